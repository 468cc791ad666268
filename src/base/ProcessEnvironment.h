#pragma once
// Facts of the running process that several layers need: the path of its executable, its
// environment, and whether it is a 32-bit process on 64-bit Windows.
#include <string>

namespace ProcessEnvironment {

// Full path of the running executable (no length limit); empty when it cannot be read.
std::wstring ModulePath();
// The folder of the running executable, with its trailing backslash.
std::wstring ModuleFolder();
// The value of an environment variable; empty when it is not set.
std::wstring EnvironmentValue(const wchar_t* name);
// True for a 32-bit process under WoW64 (that is, on 64-bit Windows).
bool IsWow64();

}  // namespace ProcessEnvironment
