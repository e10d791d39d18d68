#pragma once
// The Windows calls of the self-update that tests replace. Each member defaults to the real call
// (or, for the certificate, to the built-in release-signing certificate); only test executables
// change them, because Wine lacks some of these calls and the others reach the user's real state:
// - release_certificate: the certificate whose key verifies release descriptions; tests hand in
//   one whose key they can sign with.
// - known_folder_path: finds the local application-data folder, the parent of the staging root
//   (the known folder does not follow LOCALAPPDATA, so tests need another way to move it).
// - token_information: reads the token's elevation (Wine reports every process elevated).
// - create_process: starts the update runner.
// - create_zone_stream: opens the "Zone.Identifier" stream of the new executable (Wine has no
//   alternate streams: it creates a plain file whose name holds the colon).
// - set_file_information: renames the new executable over the old one (Wine refuses the
//   FileRenameInfoEx class with ERROR_INVALID_PARAMETER).
// - shell_execute: starts the new version after the replacement.
// - message_box: the runner's only way to tell the user of a failure.
// - wait_for_objects: the wait for the runner's readiness or its end; tests see which of the two
//   ended it, and wait past the 15 s limit, which a busy machine can reach while a runner starts.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on

namespace tarvisko {

// One line of base64: the DER X.509 certificate whose RSA key signs the releases.
extern const char* const built_in_release_certificate;

struct UpdateSystem {
    const char* release_certificate = built_in_release_certificate;
    decltype(&SHGetKnownFolderPath) known_folder_path = SHGetKnownFolderPath;
    decltype(&GetTokenInformation) token_information = GetTokenInformation;
    decltype(&CreateProcessW) create_process = CreateProcessW;
    decltype(&CreateFileW) create_zone_stream = CreateFileW;
    decltype(&SetFileInformationByHandle) set_file_information = SetFileInformationByHandle;
    decltype(&ShellExecuteW) shell_execute = ShellExecuteW;
    decltype(&MessageBoxW) message_box = MessageBoxW;
    decltype(&WaitForMultipleObjects) wait_for_objects = WaitForMultipleObjects;
};

// The calls in use; set once at the start of a test executable, before any update function runs.
UpdateSystem& update_system();

}  // namespace tarvisko
