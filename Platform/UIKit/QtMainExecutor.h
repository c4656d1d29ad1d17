#pragma once
// Makes Qt's event loop the main thread of Dispatch: blocks posted with
// Dispatch::main / mainAfter run inside QApplication::exec() on the GUI thread.
// Call once, on the GUI thread, after the QApplication exists.
namespace UIKit {
void installQtMainExecutor();
}
