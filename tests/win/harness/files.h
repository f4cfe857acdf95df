/*
 * files.h: files for the Win32 tests: a scratch working directory, files
 * written and read back byte for byte, fresh paths in the temporary one.
 */
#ifndef VORLANE_HARNESS_FILES_H
#define VORLANE_HARNESS_FILES_H

#include <string>

#include <windows.h>

/* A fresh directory under the temporary one becomes the working directory,
   so relative names (atr.txt, scripts, "null", "a.bin") land there; leave()
   deletes its files and the directory and goes back. */
class HarnessScratch {
  public:
    void enter();
    void leave();
    const char *dir() const {
        return dir_;
    }

  private:
    char dir_[MAX_PATH] = "";
    char old_dir_[MAX_PATH] = "";
};

/* Writes bytes exactly as given (binary); false when the file cannot be written. */
bool harness_file_write(const std::string &path, const std::string &bytes);
/* The bytes of a file, or "<missing>" when it cannot be opened. */
std::string harness_file_read(const std::string &path);
bool harness_file_exists(const std::string &path);
/* A path in the temporary directory; the file does not exist. */
std::string harness_temp_path(const char *name);

#endif
