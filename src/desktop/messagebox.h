// Messages shown as modal message boxes over the active window.
#pragma once

namespace desktop {

// Makes every platform::MessageBox a modal box. UI thread, before the first
// message.
void InstallMessageBoxes();

} // namespace desktop
