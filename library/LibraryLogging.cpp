// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryLogging.h"

Q_LOGGING_CATEGORY(lcLibrary, "pellisor.library", QtWarningMsg)
