// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Puts the window, frame included, in the middle of the available area of the screen it is on.
void centreOnScreen(QWidget &window);
