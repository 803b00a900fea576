#pragma once
// Fixed identity values of the suite and of this setup program; the same in every profile.

namespace Config {

inline constexpr const wchar_t* kProductCode = L"OMK";
inline constexpr const wchar_t* kProductComponentId = L"OMK_SM";
inline constexpr const wchar_t* kProductVersion = L"3.10.1.2";
inline constexpr const wchar_t* kApplicationName = L"Quarro Omnikit";
// The suite's analytics property, "UA-<account>-<property>": a deployment setting of the
// build (config/deployment.cmake), like the values of profile.h.
extern const char* const kAnalyticsTrackingId;
inline constexpr const wchar_t* kSetupWindowTitle = L"Quarro Omnikit Setup";
inline constexpr const wchar_t* kUninstallWindowTitle = L"Quarro Omnikit Uninstall";

// Named mutex that the suite's uninstaller holds while it runs.
inline constexpr const wchar_t* kUninstallerMutexName = L"{051B3265-3B59-4609-BD79-80FB92617939}";
// Version-resource description that identifies a running uninstaller copy; empty, so no
// copy is ever recognised by its description.
inline constexpr const wchar_t* kUninstallerDescription = L"";

}  // namespace Config
