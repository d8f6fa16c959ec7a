# Sourced by tools/release.sh and tools/check-release.sh: the locale they read tools
# in, the repository as the working folder, the build the release comes from and the
# archives' names.
# binutils print in the locale's language (a Japanese locale gives ファイル形式 for
# "file format"); the texts read here are the C locale's.
export LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
build=${VELK_RELEASE_BUILD:-build/win32}
version=$(sed -n 's/^#define VELK_VERSION_TEXT "\(.*\)"$/\1/p' extension/resources/velk_version.h)
name=Velk_ux1-$version-win32
kit_name=Velk_ux1-$version-conformance-kit
# The simulated drivers that each lack one operation, bin/driver-no<name>/ (simcard/CMakeLists.txt).
incomplete_drivers=(version create close resource setmode startsampling stopsampling samplingstatus data outport inport lasterror)
