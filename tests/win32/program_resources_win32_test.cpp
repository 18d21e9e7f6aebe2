// What kv-updater.exe carries: the four firmware images byte for byte, the
// icon's nine images, both dialog templates, the manifest and the version
// block; and that the engine finds the images among a program's resources.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/firmware_images.h"

namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ImagePath(int id) { return std::string(KV_FIRMWARE_DIR) + "/" + std::to_string(id) + ".bin"; }

// The program's file, loaded as data only: its resources, none of its code.
class ProgramModule {
 public:
  ProgramModule() : module_(LoadLibraryExA(KV_UPDATER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~ProgramModule() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }

  std::vector<std::uint8_t> Resource(const char* type, int id) const {
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
    if (found == nullptr) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(module_, found)));
    if (bytes == nullptr) return {};
    return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(module_, found));
  }

 private:
  HMODULE module_;
};

constexpr int kImageIds[] = {129, 133, 136, 137};

TEST(ProgramResources, EachFirmwareImageIsItsFileByteForByte) {
  ProgramModule program;
  ASSERT_NE(program.get(), nullptr) << KV_UPDATER_EXE;
  for (int id : kImageIds) {
    const std::vector<std::uint8_t> file = ReadFile(ImagePath(id));
    ASSERT_FALSE(file.empty()) << ImagePath(id);
    EXPECT_TRUE(program.Resource("BIN", id) == file) << "BIN " << id;
  }
}

TEST(ProgramResources, EngineFindsTheImagesOfItsOwnProgram) {
  // This test program links the same resource object as kv-updater.exe.
  for (int id : kImageIds) {
    const kv::ImageBytes image = kv::EmbeddedImages().Find(id);
    const std::vector<std::uint8_t> file = ReadFile(ImagePath(id));
    ASSERT_NE(image.data, nullptr) << id;
    ASSERT_EQ(image.size, file.size()) << id;
    EXPECT_EQ(std::memcmp(image.data, file.data(), file.size()), 0) << id;
  }
  for (int missing : {0, 128, 130, 138, -129, 0x10000 + 129}) {
    const kv::ImageBytes image = kv::EmbeddedImages().Find(missing);
    EXPECT_EQ(image.data, nullptr) << missing;
    EXPECT_EQ(image.size, 0u) << missing;
  }
}

#pragma pack(push, 2)
struct IconGroupHeader {
  WORD reserved, type, count;
};
struct IconGroupEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

TEST(ProgramResources, IconHoldsNineImagesAtThreeSizesAndThreeDepths) {
  ProgramModule program;
  const std::vector<std::uint8_t> group = program.Resource(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, 128);
  ASSERT_GE(group.size(), sizeof(IconGroupHeader));
  IconGroupHeader header;
  std::memcpy(&header, group.data(), sizeof header);
  ASSERT_EQ(header.count, 9);
  ASSERT_EQ(group.size(), sizeof header + 9 * sizeof(IconGroupEntry));
  std::set<std::tuple<int, int, int>> found;
  for (int i = 0; i < 9; ++i) {
    IconGroupEntry entry;
    std::memcpy(&entry, group.data() + sizeof header + i * sizeof entry, sizeof entry);
    found.insert({entry.width, entry.height, entry.bitCount});
    EXPECT_FALSE(program.Resource(MAKEINTRESOURCEA(3) /* RT_ICON */, entry.id).empty()) << entry.id;
  }
  std::set<std::tuple<int, int, int>> expected;
  for (int size : {48, 32, 16}) {
    for (int bits : {4, 8, 24}) expected.insert({size, size, bits});
  }
  EXPECT_EQ(found, expected);
}

// ---- dialog templates, read back from the extended template format ----

struct TemplateItem {
  std::uint32_t id;
  std::string className;  // lower case; predefined classes by name whether stored as atom or name
  std::string text;       // "#128" for a resource by its number
  short x, y, w, h;
  std::uint32_t style;
  std::uint32_t exStyle;
};

struct DialogTemplate {
  std::uint32_t style = 0, exStyle = 0;
  short x = 0, y = 0, w = 0, h = 0;
  std::string caption, font;
  int pointSize = 0;
  std::vector<TemplateItem> items;
};

class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Take(2)); }
  std::uint32_t Dword() { return static_cast<std::uint32_t>(Take(4)); }
  short Short() { return static_cast<short>(Word()); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Take(1)); }
  std::string Text() {  // UTF-16 as plain ASCII, enough for these templates
    std::string text;
    for (std::uint16_t c = Word(); ok_ && c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  std::string TextOrNumber() {
    const std::uint16_t first = Word();
    if (first == 0) return {};
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    position_ -= 2;
    return Text();
  }
  void Skip(std::size_t count) { position_ += count; }
  void AlignDword() { position_ = (position_ + 3) & ~std::size_t{3}; }

 private:
  std::uint64_t Take(std::size_t count) {
    if (position_ + count > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value |= std::uint64_t{bytes_[position_ + i]} << (8 * i);
    position_ += count;
    return value;
  }
  const std::vector<std::uint8_t>& bytes_;
  std::size_t position_ = 0;
  bool ok_ = true;
};

std::string ClassName(std::string stored) {
  static const std::pair<const char*, const char*> kAtoms[] = {
      {"#128", "button"}, {"#129", "edit"}, {"#130", "static"}, {"#131", "listbox"}, {"#133", "combobox"}};
  for (const auto& [atom, name] : kAtoms) {
    if (stored == atom) return name;
  }
  for (char& c : stored) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return stored;
}

DialogTemplate ReadTemplate(const std::vector<std::uint8_t>& bytes) {
  DialogTemplate dialog;
  TemplateReader in(bytes);
  EXPECT_EQ(in.Word(), 1) << "extended template version";
  EXPECT_EQ(in.Word(), 0xFFFF) << "extended template signature";
  in.Dword();  // help id
  dialog.exStyle = in.Dword();
  dialog.style = in.Dword();
  const int count = in.Word();
  dialog.x = in.Short(), dialog.y = in.Short(), dialog.w = in.Short(), dialog.h = in.Short();
  EXPECT_EQ(in.TextOrNumber(), "") << "menu";
  EXPECT_EQ(in.TextOrNumber(), "") << "window class";
  dialog.caption = in.Text();
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = in.Word();
    in.Word(), in.Byte(), in.Byte();  // weight, italic, character set
    dialog.font = in.Text();
  }
  for (int i = 0; i < count && in.ok(); ++i) {
    in.AlignDword();
    TemplateItem item{};
    in.Dword();  // help id
    item.exStyle = in.Dword();
    item.style = in.Dword();
    item.x = in.Short(), item.y = in.Short(), item.w = in.Short(), item.h = in.Short();
    item.id = in.Dword();
    item.className = ClassName(in.TextOrNumber());
    item.text = in.TextOrNumber();
    in.Skip(in.Word());  // creation data
    dialog.items.push_back(item);
  }
  EXPECT_TRUE(in.ok()) << "template cut short";
  return dialog;
}

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr std::uint32_t kNoId = 0xFFFFFFFF;
constexpr const char* kButton = "button";
constexpr const char* kEdit = "edit";
constexpr const char* kStatic = "static";
constexpr const char* kComboBox = "combobox";

void ExpectItems(const DialogTemplate& dialog, const std::vector<TemplateItem>& expected) {
  ASSERT_EQ(dialog.items.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TemplateItem& a = dialog.items[i];
    const TemplateItem& e = expected[i];
    const std::string what = "item " + std::to_string(i) + " (" + std::to_string(static_cast<int>(e.id)) + ")";
    EXPECT_EQ(a.id, e.id) << what;
    EXPECT_EQ(a.className, e.className) << what;
    EXPECT_EQ(a.text, e.text) << what;
    EXPECT_EQ(std::tie(a.x, a.y, a.w, a.h), std::tie(e.x, e.y, e.w, e.h)) << what;
    EXPECT_EQ(a.style, e.style) << what << std::hex << ": 0x" << a.style << " != 0x" << e.style;
    EXPECT_EQ(a.exStyle, e.exStyle) << what;
  }
}

TEST(ProgramResources, MainDialogTemplateIsExactlyTheLayout) {
  ProgramModule program;
  const DialogTemplate dialog = ReadTemplate(program.Resource(MAKEINTRESOURCEA(5) /* RT_DIALOG */, 103));
  EXPECT_EQ(dialog.style, DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT);
  EXPECT_EQ(dialog.exStyle, static_cast<std::uint32_t>(WS_EX_APPWINDOW));
  EXPECT_EQ(std::tie(dialog.x, dialog.y, dialog.w, dialog.h), std::make_tuple(0, 0, 239, 161));
  EXPECT_EQ(dialog.caption, "");
  EXPECT_EQ(dialog.font, "MS UI Gothic");
  EXPECT_EQ(dialog.pointSize, 9);
  const std::uint32_t field = kChild | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP;  // no border
  const std::uint32_t list = kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;       // not sorted
  ExpectItems(dialog, {
                          {1, kButton, "Execute", 119, 138, 50, 16, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
                          {2, kButton, "Exit", 182, 138, 50, 16, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
                          {kNoId, kStatic, "MIDI IN", 7, 7, 225, 8, kChild | SS_LEFT | WS_GROUP, 0},
                          {kNoId, kStatic, "MIDI OUT", 7, 37, 225, 8, kChild | SS_LEFT | WS_GROUP, 0},
                          {1000, kComboBox, "", 7, 15, 225, 115, list, 0},
                          {1001, kComboBox, "", 7, 45, 225, 115, list, 0},
                          {1002, "msctls_progress32", "", 7, 107, 225, 14, kChild | WS_BORDER, 0},
                          {1003, kEdit, "", 12, 91, 220, 12, field, 0},
                          {1004, kButton, "Rescan Device", 145, 65, 87, 16, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
                          {1005, kStatic, "", 7, 134, 20, 20, kChild | SS_BITMAP, 0},
                          {1006, kEdit, "", 12, 78, 29, 12, field, 0},
                      });
}

TEST(ProgramResources, AboutTemplateIsExactlyTheLayout) {
  ProgramModule program;
  const DialogTemplate dialog = ReadTemplate(program.Resource(MAKEINTRESOURCEA(5) /* RT_DIALOG */, 100));
  EXPECT_EQ(dialog.style, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT);
  EXPECT_EQ(std::tie(dialog.x, dialog.y, dialog.w, dialog.h), std::make_tuple(0, 0, 235, 60));
  EXPECT_EQ(dialog.caption, "About KV-16 Updater");
  EXPECT_EQ(dialog.font, "MS UI Gothic");
  EXPECT_EQ(dialog.pointSize, 9);
  ASSERT_EQ(dialog.items.size(), 4u);
  EXPECT_FALSE(dialog.items[1].text.empty()) << "the legal notice";
  ExpectItems(dialog, {
                          {kNoId, kStatic, "#128", 11, 17, 20, 20, kChild | SS_ICON, 0},
                          {kNoId, kStatic, dialog.items[1].text, 40, 45, 188, 8, kChild | SS_LEFT | WS_GROUP, 0},
                          {1, kButton, "OK", 178, 7, 50, 16, kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0},
                          {1003, kEdit, "", 39, 19, 134, 14, kChild | ES_LEFT | ES_READONLY | WS_TABSTOP, 0},
                      });
}

TEST(ProgramResources, ManifestAsksForNoElevationAndCommonControlsSix) {
  ProgramModule program;
  const std::vector<std::uint8_t> manifest = program.Resource(MAKEINTRESOURCEA(24) /* RT_MANIFEST */, 1);
  const std::string text(manifest.begin(), manifest.end());
  EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
}

TEST(ProgramResources, VersionBlockNamesTheProductAndVersion) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(KV_UPDATER_EXE, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(KV_UPDATER_EXE, 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  ASSERT_GE(fixedSize, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);  // 2.0
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00020000u);  // 2.0
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00020000u);

  struct Translation {
    WORD language, codePage;
  }* translations = nullptr;
  UINT translationsSize = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                             &translationsSize));
  ASSERT_GE(translationsSize, sizeof(Translation));
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04x%04x\\", translations->language,
                translations->codePage);

  const std::pair<const char*, const char*> strings[] = {
      {"FileDescription", "Updater"},
      {"ProductName", "KV-14"},
      {"FileVersion", "2.0.2.0"},
      {"ProductVersion", "2.0.2.0"},
  };
  for (const auto& [name, expected] : strings) {
    char* value = nullptr;
    UINT length = 0;
    const std::string path = std::string(prefix) + name;
    ASSERT_TRUE(VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) << name;
    EXPECT_STREQ(value, expected) << name;
  }
}

}  // namespace
