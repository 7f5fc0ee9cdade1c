// What the system menu's pages and the menu object share. Private to the
// screen manager.
#pragma once
#include <cstddef>
#include <cstdint>

namespace menu {
constexpr int kSystemPages = 28; // pSystemMenu
constexpr int kSystemEnums = 18; // pSystemEnum
constexpr int kMaxLines = 25;    // lines a menu object holds
constexpr int kRecordLines = 31; // lines a 380-byte page record can hold
constexpr int kStackDepth = 8;
constexpr size_t kFieldBytes = 36; // a field descriptor
constexpr size_t kPageBytes = 380; // an application's menu page
// Line flags.
constexpr uint16_t kEditable = 0x0001, kLink = 0x0002, kScreen = 0x0004, kRight = 0x0100,
                   kCentre = 0x0200, kUnits = 0x4000, kPush = 0x8000;
// Page flags of application pages.
constexpr uint16_t kHiddenLines = 0x0002, kBar = 0x2000;
} // namespace menu

// A built-in page's caption text and field descriptor by their handle; null
// for a handle that names none.
const char *Menu_SysCaption(uint32_t handle);
const uint8_t *Menu_SysField(uint32_t handle);
void Menu_PagesReset();
