#include "platform/linux/key_mapping.hpp"

#include <X11/keysym.h>

#include <array>
#include <utility>

#include "platform/input_events.hpp"

namespace pavo::platform::linux_desktop {

namespace {

constexpr std::array<std::pair<std::uint16_t, std::uint32_t>, 86> kKeys{{
    {0, XK_a},          {1, XK_s},          {2, XK_d},
    {3, XK_f},          {4, XK_h},          {5, XK_g},
    {6, XK_z},          {7, XK_x},          {8, XK_c},
    {9, XK_v},          {11, XK_b},         {12, XK_q},
    {13, XK_w},         {14, XK_e},         {15, XK_r},
    {16, XK_y},         {17, XK_t},         {18, XK_1},
    {19, XK_2},         {20, XK_3},         {21, XK_4},
    {22, XK_6},         {23, XK_5},         {24, XK_equal},
    {25, XK_9},         {26, XK_7},         {27, XK_minus},
    {28, XK_8},         {29, XK_0},         {30, XK_bracketright},
    {31, XK_o},         {32, XK_u},         {33, XK_bracketleft},
    {34, XK_i},         {35, XK_p},         {36, XK_Return},
    {37, XK_l},         {38, XK_j},         {39, XK_apostrophe},
    {40, XK_k},         {41, XK_semicolon}, {42, XK_backslash},
    {43, XK_comma},     {44, XK_slash},     {45, XK_n},
    {46, XK_m},         {47, XK_period},    {48, XK_Tab},
    {49, XK_space},     {50, XK_grave},     {51, XK_BackSpace},
    {53, XK_Escape},    {55, XK_Control_L}, {56, XK_Shift_L},
    {57, XK_Caps_Lock}, {58, XK_Alt_L},     {59, XK_Control_L},
    {60, XK_Shift_R},   {61, XK_Alt_R},     {62, XK_Control_R},
    {76, XK_KP_Enter},  {96, XK_F5},        {97, XK_F6},
    {98, XK_F7},        {99, XK_F3},        {100, XK_F8},
    {101, XK_F9},       {103, XK_F11},      {109, XK_F10},
    {111, XK_F12},      {114, XK_Insert},   {115, XK_Home},
    {116, XK_Prior},    {117, XK_Delete},   {118, XK_F4},
    {119, XK_End},      {120, XK_F2},       {121, XK_Next},
    {122, XK_F1},       {123, XK_Left},     {124, XK_Right},
    {125, XK_Down},     {126, XK_Up},       {54, XK_Control_R},
    {71, XK_Clear},     {105, XK_F13},
}};

}  // namespace

std::optional<std::uint32_t> keysymForMacKeyCode(std::uint16_t keyCode) {
    for (const auto& [mac, keysym] : kKeys) {
        if (mac == keyCode) return keysym;
    }
    return std::nullopt;
}

std::vector<std::uint32_t> modifierKeysyms(std::uint64_t flags) {
    std::vector<std::uint32_t> keys;
    if (flags & (modifier::control | modifier::command)) keys.push_back(XK_Control_L);
    if (flags & modifier::option) keys.push_back(XK_Alt_L);
    if (flags & modifier::shift) keys.push_back(XK_Shift_L);
    return keys;
}

std::uint32_t keysymForCodePoint(char32_t codePoint) {
    if (codePoint == U'\n' || codePoint == U'\r') return XK_Return;
    if (codePoint == U'\t') return XK_Tab;
    if (codePoint == 0x08) return XK_BackSpace;
    if (codePoint == 0x1B) return XK_Escape;
    if ((codePoint >= 0x20 && codePoint <= 0x7E) || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<std::uint32_t>(codePoint);
    }
    return 0x01000000u | static_cast<std::uint32_t>(codePoint);
}

std::vector<char32_t> codePoints(const std::u16string& text) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            out.push_back(0xFFFD);
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

}  // namespace pavo::platform::linux_desktop
