#pragma once

namespace sorvane
{
// The Tressel shapes in personality-id order; the editor's shape selector lists them this way.
inline constexpr const char* tresselPersonalityNames[13] = {
    "AUTO",  "BROKEN", "MACHINE", "GHOST",         "MELT", "VOID",   "PANIC",
    "GLASS", "DRUNK",  "CORRUPT", "TOTAL FAILURE", "???",  "ENHANCE"};
} // namespace sorvane
