#pragma once

class MainWindow;

// Pictures of the window for the README, taken by the program itself so
// that scripts/screenshots needs no clicks: with PACKSCOPE_SCREENSHOTS set
// to a folder, the program waits until the link is online, presses the
// buttons named in PACKSCOPE_SCREENSHOT_CLICKS (object names separated by
// commas, e.g. "collect"; 3 s apart), lets monitoring run for
// PACKSCOPE_SCREENSHOT_SETTLE_MS (default 5000), then shows every tab in
// English and in Chinese and saves each as a PNG named
// <en|zh>-<tab number>-<tab>.png (the log with its time stamps on), and
// quits. Exit code 1 when the link is not online within 60 s.
namespace ScreenshotRig {

// Does nothing unless PACKSCOPE_SCREENSHOTS is set.
void startIfAsked(MainWindow *window);

} // namespace ScreenshotRig
