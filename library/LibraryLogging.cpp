#include "LibraryLogging.h"

Q_LOGGING_CATEGORY(lcLibrary, "pellisor.library", QtWarningMsg)
