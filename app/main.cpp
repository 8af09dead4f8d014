#include <windows.h>

#include "app/dll_search.h"
#include "app/message_loop.h"
#include "app/patcher_config.h"
#include "engine/patcher.h"
#include "ui/patcher_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearchToSystemFolder();  // before anything loads a library
    int exitCode = 1;
    PatcherConfig config = MakeDefaultConfig();
    {
        Patcher patcher(config);
        if (!patcher.Initialize()) {
            MessageBoxW(nullptr, L"Nie można zainicjalizować patchera!", L"Błąd", 0x10);
            return 1;  // the patcher's destructor still logs its last line
        }
        {
            PatcherWindow window(&patcher, config);
            if (window.Create()) {
                exitCode = RunMessageLoop();
            } else {
                MessageBoxW(nullptr, L"Nie można utworzyć okna!", L"Błąd", 0x10);
                exitCode = 1;
            }
        }  // images and GDI+ go first, the engine after them
    }
    return exitCode;
}
