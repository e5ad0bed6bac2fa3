/*
 * The names the setup shares with the configuration program, the product and whoever checks an
 * installation: the maker's key and its values, the RunOnce value that starts the product after
 * a restart, the portable product's copies, and the plain results a run may end with. Deployment
 * scripts and the configuration program rely on each of them, so none may change.
 */
#ifndef SETUP_PRODUCT_NAMES_H
#define SETUP_PRODUCT_NAMES_H

#include "platform/win32.h"

namespace names {

// HKEY_CURRENT_USER.
constexpr char kProductKey[] = "Software\\Tarnwell Labs";
constexpr char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kRunOnceValue[] = "Pondwick";

// Values of kProductKey.
constexpr char kInstallerDir[] = "_InstallerDir";
constexpr char kWasFresh[] = "_WasFresh";
constexpr char kCancelInstall[] = "_CancelInstall";
constexpr char kFolder[] = "PondwickFolder";
constexpr char kFolderPortable[] = "PondwickFolderPort";
constexpr char kUseAdminFiles[] = "_UseAdminFiles";
constexpr char kPortableRoot[] = "_PortableRootFolder";

// The files the portable edition's product runs from, copied into the temporary path.
constexpr const char* kProductCopies[] = {"identities.exe", "pondwick.dll", "affid.txt"};

}  // namespace names

// The plain results of a run; every other failure is an HRESULT.
constexpr HRESULT kResultStopped = -1;      // cancelled, no temporary folder, or IE too old
constexpr HRESULT kResultNoFolder = -4;     // no usable installation folder
constexpr HRESULT kResultFilesLocked = -5;  // files remain locked, or no portable root folder

#endif
