# vorlen_check_server_url(URL): the checks of the compiled-in server URL at
# configure time. A trailing slash is an error. Plain http to a host that is not
# this machine's loopback address gets a warning: over it, whoever sits on a
# player's path can swap the patch list, the game files and the patcher itself.
#
# Also runs on its own, which is how the tests call it:
#   cmake -DVORLEN_SERVER_URL=http://patch.example.net/fs -P cmake/server_url.cmake
function(vorlen_check_server_url url)
  if(url MATCHES "/$")
    message(FATAL_ERROR "VORLEN_SERVER_URL must not end with a slash: ${url}")
  endif()
  string(TOLOWER "${url}" lower)
  if(NOT lower MATCHES "^http://(\\[[^]]*\\]|[^/:?#]*)")
    return()
  endif()
  set(host "${CMAKE_MATCH_1}")
  if(host STREQUAL "localhost" OR host STREQUAL "[::1]"
     OR host MATCHES "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    return()
  endif()
  string(REGEX REPLACE "^[hH][tT][tT][pP]://" "https://" secure "${url}")
  message(WARNING
    "VORLEN_SERVER_URL is plain http to ${host}, so anyone on a player's network "
    "path (a cafe's Wi-Fi, a hostile provider) can replace the patch list, any game "
    "file and the patcher executable itself, which the patcher then runs: build "
    "with -DVORLEN_SERVER_URL=${secure} and serve the folder over https (docs/operating.md, "
    "\"An https address\").")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  vorlen_check_server_url("${VORLEN_SERVER_URL}")
endif()
