// Where the Linux settings file lies: the path VANTREL_REGISTRY names (or the
// default), the file its symbolic links lead to, and that file's folders.
#pragma once

#include <string>

namespace vantrel {

// The settings path as configured: VANTREL_REGISTRY, or
// /var/lib/vantrel/settings.reg when it is unset or empty.
std::string SettingsPath();

// The folder part of path: "." for a bare name, "/" for a file in the root.
std::string FolderOf(const std::string& path);

// The file that path stands for: symbolic links at its end are followed, also
// to a file that does not exist yet, so the settings are read, created and
// replaced where the link points and the link itself stays. 0, or an errno
// value (ELOOP after 40 links, as the kernel counts them).
int ResolveLinks(const std::string& path, std::string& file);

// A hidden file beside file, in the same folder: "folder/.name" + suffix.
std::string HiddenBeside(const std::string& file, const std::string& suffix);

// Creates folder and its missing parents (mode 0755); 0 or an errno value.
int MakeFolders(const std::string& folder);

}  // namespace vantrel
