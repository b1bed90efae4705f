// Helpers the Windows implementation files share: UTF-8 <-> UTF-16 and the
// words for a Win32 error.
#ifndef STUBKIT_PLATFORM_WINDOWS_TEXT_H
#define STUBKIT_PLATFORM_WINDOWS_TEXT_H

#include <string>

namespace stubkit::platform {

std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);

// The words for a GetLastError() value: those of the errno value it stands
// for where there is one (so messages read as on Linux), else the system's.
std::string Win32ErrorText(unsigned long error);

}  // namespace stubkit::platform

#endif
