# ctest fixtures that run the test FTP servers of tools/ftp for the tests
# that name them in FIXTURES_REQUIRED (qv_test(... FIXTURES <fixture>)).
#
#   qv_ftp_server_fixture(<fixture> [USER <name>] [PASSWORD <password>]
#                         [ARGS <more ftp_server.py options>...])
#       The pyftpdlib runner on a free port of 127.0.0.1, serving
#       <binary dir>/<fixture>/root (--file/--dir in ARGS fill it).
#       Sets <fixture>_ENVIRONMENT in the caller:
#         QV_FTP_SERVER_PORT_FILE, QV_FTP_SERVER_USER, QV_FTP_SERVER_PASSWORD,
#         QV_FTP_SERVER_ROOT
#   qv_ftp_peer_fixture(<fixture>)
#       The scripted-peer service (tools/ftp/ftp_peer.py serve) with the
#       stored scenarios. Sets <fixture>_ENVIRONMENT: QV_FTP_PEER_PORT_FILE.
#
# The ENVIRONMENT lists go straight into qv_test(... ENVIRONMENT ...).

set(QV_FTP_TOOLS ${CMAKE_CURRENT_LIST_DIR}/../tools/ftp)

function(qv_ftp_server_fixture fixture)
  cmake_parse_arguments(A "" "USER;PASSWORD" "ARGS" ${ARGN})
  if(NOT A_USER)
    set(A_USER qvtest)
  endif()
  if(NOT A_PASSWORD)
    set(A_PASSWORD qvpass)
  endif()
  set(state ${CMAKE_CURRENT_BINARY_DIR}/${fixture})
  add_test(NAME ${fixture}_start
           COMMAND ${QV_PYTHON} ${QV_FTP_TOOLS}/ftp_server.py start --state ${state}
                   --root ${state}/root --user ${A_USER}:${A_PASSWORD} ${A_ARGS})
  add_test(NAME ${fixture}_stop
           COMMAND ${QV_PYTHON} ${QV_FTP_TOOLS}/ftp_server.py stop --state ${state})
  set_tests_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 120)
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture})
  set(${fixture}_ENVIRONMENT
      QV_FTP_SERVER_PORT_FILE=${state}/port
      QV_FTP_SERVER_USER=${A_USER}
      QV_FTP_SERVER_PASSWORD=${A_PASSWORD}
      QV_FTP_SERVER_ROOT=${state}/root
      PARENT_SCOPE)
endfunction()

function(qv_ftp_peer_fixture fixture)
  set(state ${CMAKE_CURRENT_BINARY_DIR}/${fixture})
  add_test(NAME ${fixture}_start
           COMMAND ${QV_PYTHON} ${QV_FTP_TOOLS}/ftp_peer.py start --state ${state}
                   --scenarios ${QV_FTP_TOOLS}/scenarios)
  add_test(NAME ${fixture}_stop
           COMMAND ${QV_PYTHON} ${QV_FTP_TOOLS}/ftp_peer.py stop --state ${state})
  set_tests_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 60)
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture})
  set(${fixture}_ENVIRONMENT QV_FTP_PEER_PORT_FILE=${state}/port PARENT_SCOPE)
endfunction()
