// The per-user key store behind the Linux registry: a tree of keys with
// named, typed values, kept in one SQLite file.
//
// Location: $XDG_CONFIG_HOME/sharemapper/registry.db (by default
// ~/.config/sharemapper/registry.db); the folder is made 0700 and the file
// 0600. Each operation is one transaction, so several runs may use the store
// at once: writers queue behind each other instead of failing. On a local
// file system the store keeps a write-ahead log beside it (registry.db-wal,
// empty between runs, and its index registry.db-shm; see ChooseJournal). A
// store whose file and folder cannot be written is still read.
//
// Failures are Windows error numbers (see MapSqliteError) and each one is
// also described through the log4cxx logger "Sharemapper.KeyStore".
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "platform/posix/sqlite_util.h"

namespace platform {
namespace posix {

using KeyId = std::int64_t;

// The root key, present in every store.
constexpr KeyId kRootKey = 1;

class KeyStore {
 public:
  KeyStore() = default;
  ~KeyStore();
  KeyStore(const KeyStore&) = delete;
  KeyStore& operator=(const KeyStore&) = delete;

  // Each takes the key path as its components below the root (empty: the
  // root itself). Names compare without regard to ASCII case and keep the
  // case they were created with.
  ErrorCode FindKey(const std::vector<std::string>& path, KeyId& id);
  ErrorCode CreateKey(const std::vector<std::string>& path, KeyId& id);
  ErrorCode DeleteKey(const std::vector<std::string>& path);

  ErrorCode SetValue(KeyId key, const std::string& name, std::uint32_t type, const char* data,
                     std::uint32_t size);
  ErrorCode QueryValue(KeyId key, const std::string& name, std::uint32_t& type, std::string& data);
  // Subkeys are listed in name order, ignoring ASCII case.
  ErrorCode EnumKey(KeyId key, std::uint32_t index, std::string& name);

  // Closes the database; the next operation finds the store anew from the
  // environment.
  void Close();

  // Where the store lives for the current environment ("" when no home
  // folder can be found).
  static std::string ResolvePath();

 private:
  enum class Need { kRead, kWrite };
  enum class State { kOpen, kAbsent, kFailed };

  State Open(Need need, ErrorCode& code);
  ErrorCode OpenDatabase(const std::string& file, bool& empty);
  ErrorCode CheckHeader(bool& empty);
  bool ReadableAsItIs();
  void ReopenImmutable(const std::string& file);
  ErrorCode Initialise();
  void ChooseJournal();
  ErrorCode Fail(int rc, const char* what);
  ErrorCode Refuse(ErrorCode code, const std::string& what);

  // These answer SQLite result codes.
  int Exec(const char* sql);
  int Run(const char* sql);
  int Commit();
  void Rollback();
  int LookUpChild(KeyId parent, const std::string& name, KeyId& child, bool& exists);
  int LookUp(const std::vector<std::string>& path, KeyId& id, std::size_t& found);
  int KnownKey(const std::string& folded, KeyId& id, bool& known);
  void ForgetKeys();
  int KeyExists(KeyId key, bool& exists);

  sqlite3* db_ = nullptr;
  StatementCache statements_;  // of db_; cleared before it closes
  // Key ids by case-folded path, as looked up under data_version
  // knownVersion_ of db_ (see KnownKey).
  std::unordered_map<std::string, KeyId> knownKeys_;
  std::int64_t knownVersion_ = -1;
  bool readOnly_ = false;
  std::string file_;
};

// SQLite result code (extended) to the Windows error number it stands for.
ErrorCode MapSqliteError(int rc);

}  // namespace posix
}  // namespace platform
