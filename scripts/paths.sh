# Where the scripts find things, named once; each script sources this file
# from the repository's root (". scripts/paths.sh").
# The default preset's build folder (CMakePresets.json, "default").
release_build=build/720p
# The Windows build's static libraries (scripts/build-windows-libraries.sh
# makes them); VANTROP_WINDOWS_PREFIX chooses another place, and the Windows
# preset finds them through the same variable.
windows_prefix=${VANTROP_WINDOWS_PREFIX:-$HOME/.cache/vantrop-windows}
