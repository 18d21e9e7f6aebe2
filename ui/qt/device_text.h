// The dialog's texts arrive as 8-bit strings in the code page the device
// names use (932, Shift-JIS with its extensions); ASCII passes unchanged.
#pragma once

#include <QString>

namespace kv {

QString FromCodePageText(const char* text);

}  // namespace kv
