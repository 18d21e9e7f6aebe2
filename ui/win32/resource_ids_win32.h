// Identifiers of the program's resources (resources/updater.rc).
#pragma once

namespace kv::win32 {

constexpr int kAboutTemplate = 100;
constexpr int kMainTemplate = 103;
constexpr int kIconResource = 128;
constexpr int kProgressBarId = 1002;
constexpr int kAboutTitleFieldId = 1003;

}  // namespace kv::win32
