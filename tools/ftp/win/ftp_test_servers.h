// The former place of tests/support/ftp_test_servers.h, kept only until the
// FTP client tests, the application test and the download benchmark include
// that one; do not include it in new code.
#pragma once

#include "tests/support/ftp_test_servers.h"
