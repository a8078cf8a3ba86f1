// The kinds of the program's run records, for the program that writes them
// and the package's runner that reads them. One record a line, UTF-8, CR LF,
// opening with its kind: "LOG <entry>", "ERROR <line of an error text>",
// "RESULT <exit code> <meaning>". A line of another kind is no record.
#pragma once

namespace RunRecordKinds {

inline constexpr wchar_t kLog[] = L"LOG ";
inline constexpr wchar_t kError[] = L"ERROR ";
inline constexpr wchar_t kResult[] = L"RESULT ";

}  // namespace RunRecordKinds
