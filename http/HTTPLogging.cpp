// SPDX-License-Identifier: GPL-3.0-or-later
#include "HTTPLogging.h"

Q_LOGGING_CATEGORY(lcHttp, "pellisor.http", QtWarningMsg)
