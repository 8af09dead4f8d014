// Ids of the resources the patcher carries (resources.rc) and loads (the window).
// Read by the resource compiler too, so plain definitions only.
#ifndef VORLEN_RESOURCE_IDS_H
#define VORLEN_RESOURCE_IDS_H

#define IDI_PATCHER 101

// The window's images, "PNG" resources.
#define IDP_BACKGROUND 102
#define IDP_BAR_TRACK 103
#define IDP_BAR_BLUE 104
#define IDP_BAR_GREEN 105
#define IDP_INFO_PANEL 106
#define IDP_CHECK_PANEL 107
#define IDP_PLAY_BUTTON 108
#define IDP_CLOSE_BUTTON 109
#define IDP_BUSY_BUTTON 110

#endif
