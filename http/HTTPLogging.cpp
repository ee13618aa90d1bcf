#include "HTTPLogging.h"

Q_LOGGING_CATEGORY(lcHttp, "pellisor.http", QtWarningMsg)
