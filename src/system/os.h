#pragma once

// Every helper of the os namespace: file-system entries, accounts and the kernel release.
#include "system/accounts.h"
#include "system/createfile.h"
#include "system/exists.h"
#include "system/file_ops.h"
#include "system/ls.h"
#include "system/release.h"
