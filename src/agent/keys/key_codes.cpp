#include "agent/keys/key_codes.hpp"

#include <array>

#include "common/modifier_flags.hpp"

namespace pavo::agent {

namespace {

// One physical key: what it types alone and with shift ('\0': nothing with shift).
struct KeyRow {
    std::uint16_t keyCode;
    char unshifted;
    char shifted;
};

// The US ANSI layout. Key codes 10 and 48 are absent on purpose: tab is a named key, not a character.
constexpr KeyRow kRows[] = {
    {0, 'a', 'A'},    {1, 's', 'S'},  {2, 'd', 'D'},  {3, 'f', 'F'},   {4, 'h', 'H'},  {5, 'g', 'G'},
    {6, 'z', 'Z'},    {7, 'x', 'X'},  {8, 'c', 'C'},  {9, 'v', 'V'},   {11, 'b', 'B'}, {12, 'q', 'Q'},
    {13, 'w', 'W'},   {14, 'e', 'E'}, {15, 'r', 'R'}, {16, 'y', 'Y'},  {17, 't', 'T'}, {18, '1', '!'},
    {19, '2', '@'},   {20, '3', '#'}, {21, '4', '$'}, {22, '6', '^'},  {23, '5', '%'}, {24, '=', '+'},
    {25, '9', '('},   {26, '7', '&'}, {27, '-', '_'}, {28, '8', '*'},  {29, '0', ')'}, {30, ']', '}'},
    {31, 'o', 'O'},   {32, 'u', 'U'}, {33, '[', '{'}, {34, 'i', 'I'},  {35, 'p', 'P'}, {36, '\n', '\0'},
    {36, '\r', '\0'}, {37, 'l', 'L'}, {38, 'j', 'J'}, {39, '\'', '"'}, {40, 'k', 'K'}, {41, ';', ':'},
    {42, '\\', '|'},  {43, ',', '<'}, {44, '/', '?'}, {45, 'n', 'N'},  {46, 'm', 'M'}, {47, '.', '>'},
    {49, ' ', '\0'},  {50, '`', '~'},
};

struct CharacterKey {
    bool present = false;
    KeyPress press;
};

constexpr std::array<CharacterKey, 128> buildCharacterTable() {
    std::array<CharacterKey, 128> table{};
    for (const KeyRow& row : kRows) {
        table[static_cast<unsigned char>(row.unshifted)] = {true, {row.keyCode, 0}};
        if (row.shifted != '\0')
            table[static_cast<unsigned char>(row.shifted)] = {true, {row.keyCode, common::modifier::shift}};
    }
    return table;
}

constexpr std::array<CharacterKey, 128> kCharacterTable = buildCharacterTable();

}  // namespace

std::optional<KeyPress> keyCodeForCharacter(std::string_view character) {
    // Every character of the table is a single ASCII byte, so anything longer is a character it lacks.
    if (character.size() != 1) return std::nullopt;
    const auto byte = static_cast<unsigned char>(character[0]);
    if (byte >= kCharacterTable.size() || !kCharacterTable[byte].present) return std::nullopt;
    return kCharacterTable[byte].press;
}

}  // namespace pavo::agent
