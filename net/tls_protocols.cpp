#include "net/tls_protocols.h"

DWORD RequestModernTls(HINTERNET session) {
    // Unless asked, WinHTTP on Windows 7 and 8.0 offers only SSL 3.0 and TLS 1.0,
    // which servers with current defaults refuse. A system that does not know the
    // TLS 1.3 flag refuses the whole set, hence the second try without it. Windows 7
    // SP1 honours TLS 1.2 only with update KB3140245; without it the session keeps
    // its defaults, as it does when both tries are refused.
    const DWORD choices[] = {
        WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3,
        WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2,
    };
    for (DWORD protocols : choices) {
        if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
            return protocols;
        }
    }
    return 0;
}
