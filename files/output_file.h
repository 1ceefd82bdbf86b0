// Files the programs write for the user: checked before any work, written
// to a temporary file beside the final name and moved into place only when
// complete, so that a failure or a signal never leaves half a file and never
// harms one that was there.
#pragma once
#include <string>
#include <vector>

// Checks, before any work, that `path` ends in one of `extensions` (".png"),
// that its name fits the folder's limit, that its folder exists and is
// writable, that it is not a folder and not the same file as any of
// `inputs`; *error says which check failed and what to do.
bool checkOutputPath(const std::string& path, const std::vector<std::string>& extensions,
                     const std::vector<std::string>& inputs, std::string* error);
// Whether something (a file, a folder, a link) already has this name.
bool pathExists(const std::string& path);
// Before any work: false, with *error saying to give --force or another name,
// when something has this name and `force` is not given.
bool checkNameFree(const std::string& path, bool force, std::string* error);
// Moves the finished temporary file to `path`: over what is there with
// `force`, else only where nothing is (never over a file made meanwhile).
// On failure *error says why and the temporary file is removed.
bool finishOutput(const std::string& temporary, const std::string& path, bool force, std::string* error);
// A new empty hidden file in `path`'s folder, with `extension`, to write into
// before moving it into place; "" with *error when none can be made.
std::string makeTemporaryBeside(const std::string& path, const std::string& extension, std::string* error);
// Renames the finished temporary file to `path`, replacing what was there;
// removes it and sets *error when that fails.
bool moveIntoPlace(const std::string& temporary, const std::string& path, std::string* error);
// Gives the finished temporary file the name `path` only if nothing has that
// name yet; false (the temporary file kept) when something has it, with *error
// set only for other failures.
bool moveIntoPlaceIfNew(const std::string& temporary, const std::string& path, std::string* error);
// Makes `path` a new empty file, holding the name for an output still to be
// written, only if nothing has that name: false when it is taken (*error
// left empty) or cannot be made (*error says why).
bool reserveName(const std::string& path, std::string* error);
// Whether `path` is an empty regular file: a name held by reserveName and not written yet.
bool isReservation(const std::string& path);
// Moves the finished temporary file onto `path`, a name held by reserveName,
// only while it still holds nothing: never over a file another program
// wrote there. On failure *error says why and the temporary file is removed.
bool moveOntoReservation(const std::string& temporary, const std::string& path, std::string* error);
// Removes `path` if it is still an empty reservation (an output that was never written).
void releaseReservation(const std::string& path);
// A written file's size as people read it ("740 kB", "12.3 MB"); "" when it cannot be read.
std::string fileSizeText(const std::string& path);
