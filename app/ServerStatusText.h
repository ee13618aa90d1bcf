// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class HTTPServer;

// One line telling the user what the server is doing, or why it is not serving.
QString serverStatusText(const HTTPServer &server);
