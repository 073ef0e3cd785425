#pragma once

// The program's version: the text of the version file, of the power-on log
// entry and of the printed lists. Kept here alone, so they never disagree.
namespace ProgramVersion {
inline constexpr char kText[] = "8.9.30";
}
