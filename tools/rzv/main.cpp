// rzv: a command-line tool for people who keep Ruzuzuve database files.
//
//   rzv create FILE [--password P] [--cipher ID] [--page-size N] [--max-connections N]
//   rzv info FILE [--password P]
//   rzv pages FILE [--password P]
//
// Engine errors print the engine's full message on stderr and exit 1; usage
// errors print the usage on stderr and exit 2. Each command is one function
// taking the parsed arguments; new commands go into kCommands.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/crypto_algorithm.h"
#include "engine/storage/database_system_files.h"
#include "engine/storage/disk_page_manager.h"
#include "engine/storage/exception.h"
#include "engine/storage/page_header.h"
#include "tools/rzv/sessions_info.h"

namespace {

constexpr const char* kUsage =
    "usage: rzv create FILE [--password P] [--cipher ID] [--page-size N] [--max-connections N]\n"
    "       rzv info FILE [--password P]\n"
    "       rzv pages FILE [--password P]\n";

struct UsageError {
  std::string text;
};

struct Args {
  std::string file;
  std::map<std::string, std::string> options;

  std::optional<std::string> Get(const std::string& name) const {
    auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return it->second;
  }

  int64_t GetInt(const std::string& name, int64_t fallback, int64_t lo, int64_t hi) const {
    auto v = Get(name);
    if (!v) return fallback;
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(v->c_str(), &end, 10);
    if (v->empty() || *end != '\0' || errno != 0 || n < lo || n > hi)
      throw UsageError{"--" + name + " needs a whole number from " + std::to_string(lo) + " to " +
                       std::to_string(hi) + ", not '" + *v + "'"};
    return n;
  }
};

// FILE followed by "--name value" options from the allowed set.
Args Parse(const std::vector<std::string>& argv, const std::set<std::string>& allowed) {
  Args args;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a.rfind("--", 0) == 0) {
      std::string name = a.substr(2);
      if (!allowed.count(name)) throw UsageError{"unknown option " + a};
      if (i + 1 >= argv.size()) throw UsageError{"option " + a + " needs a value"};
      args.options[name] = argv[++i];
    } else if (args.file.empty()) {
      args.file = a;
    } else {
      throw UsageError{"unexpected argument " + a};
    }
  }
  if (args.file.empty()) throw UsageError{"FILE is missing"};
  return args;
}

// Opens an existing database read-only, as every inspecting command does.
void OpenReadOnly(rzv::RzvDiskPageManager& manager, const Args& args, uint8_t algorithm = 0) {
  rzv::RzvPassword password{args.Get("password").value_or(""), algorithm};
  bool multi_user = false, needs_repair = false, read_only = true;
  manager.OpenDatabaseFile(args.file, password, multi_user, false, needs_repair, read_only);
}

int CreateCommand(const std::vector<std::string>& argv) {
  Args args = Parse(argv, {"password", "cipher", "page-size", "max-connections"});
  rzv::RzvPassword password;
  password.password = args.Get("password").value_or("");
  password.algorithm = static_cast<uint8_t>(args.GetInt("cipher", 0, 0, 255));
  const auto page_size = static_cast<int32_t>(args.GetInt("page-size", 4096, 0, INT32_MAX));
  const auto max_connections = static_cast<int32_t>(args.GetInt(
      "max-connections", rzv::RzvDatabaseSystemFiles::kDefaultMaxConnections, 0, INT32_MAX));
  // Checked first: creating replaces any file of that name.
  rzv::RzvDatabaseSystemFiles::CheckMaxConnections(max_connections);
  rzv::RzvDiskPageManager manager;
  manager.CreateDatabaseFile(args.file, password, 8, page_size);
  try {
    rzv::RzvDatabaseSystemFiles system_files(manager);
    system_files.Create(max_connections);
  } catch (...) {
    // A file without its system structures is no database: do not leave it.
    manager.CloseDatabaseFile();
    std::remove(args.file.c_str());
    throw;
  }
  manager.CloseDatabaseFile();
  std::printf("Created %s\n", args.file.c_str());
  return 0;
}

int InfoCommand(const std::vector<std::string>& argv) {
  Args args = Parse(argv, {"password"});
  const auto found = rzv::RzvDiskPageManager::InspectDatabaseFile(args.file);
  const rzv::RzvFileHeader& h = found.header;
  const rzv::RzvEncryptionHeader& e = found.encryption_header;

  const char* password_state = "not needed";
  rzv::RzvDiskPageManager manager;
  // A damaged header still gets shown; the open's error follows it.
  std::optional<rzv::RzvException> open_error;
  try {
    OpenReadOnly(manager, args, e.crypto_algorithm);
    if (h.IsEncrypted()) password_state = "fits";
  } catch (const rzv::RzvException& ex) {
    if (ex.NativeError() == 30445) {
      password_state = "does not fit";
    } else {
      open_error = ex;
      password_state = "unknown";
    }
  }

  std::printf("File: %s\n", args.file.c_str());
  std::printf("BaseOffset: %lld\n", static_cast<long long>(found.base_offset));
  std::printf("Signature: %s\n", h.SignatureText().c_str());
  std::printf("HeaderSize: %u\n", h.header_size);
  std::printf("Version: %g\n", h.version);
  std::printf("PageSize: %u\n", h.page_size);
  std::printf("ExtentPageCount: %u\n", h.extent_page_count);
  std::printf("TotalPageCount: %d\n", h.total_page_count);
  std::printf("LastUsedPageNo: %d\n", h.last_used_page_no);
  std::printf("ChangeCounter: %d\n", h.change_counter);
  std::printf("FileState: %u (%s)\n", h.file_state,
              h.file_state == rzv::kRzvFileStateConsistent ? "consistent"
              : h.file_state == rzv::kRzvFileStateInCommit ? "in commit"
                                                           : "unknown");
  std::printf("Encrypted: %u (%s)\n", h.encrypted, h.IsEncrypted() ? "yes" : "no");
  std::printf("EncryptionHeaderSize: %u\n", e.size);
  if (h.IsEncrypted()) {
    std::printf("CryptoAlgorithm: %u (%s)\n", e.crypto_algorithm,
                rzv::RzvCryptoAlgorithmName(e.crypto_algorithm));
  }
  std::printf("Password: %s\n", password_state);
  std::printf("NeedsRepair: %s\n", h.NeedsRepair() ? "yes" : "no");
  std::fflush(stdout);
  if (open_error) throw *open_error;
  if (!manager.IsOpen()) return 0;

  // The rest lives in pages, readable only with the password.
  std::printf("PageCount: %d\n", manager.GetTotalPageCount());
  try {
    rzv::RzvDatabaseSystemFiles system_files(manager);
    system_files.Open();
    std::printf("MaxConnections: %d\n", system_files.MaxConnections());
    const auto& tables = system_files.TableList().Entries();
    std::printf("Tables: %zu\n", tables.size());
    for (const auto& t : tables) {
      std::printf("Table: %s id=%d metadata=%d most-updated=%d locks=%d\n", t.name.c_str(),
                  t.table_id, t.metadata_page_no, t.most_updated_page_no, t.lock_file_page_no);
    }
    rzv::tool::PrintSessionsInfo(stdout, manager, system_files.SessionsFile().StartPageNo());
  } catch (const rzv::RzvException& ex) {
    std::printf("SystemFiles: unreadable: %s\n", ex.what());
  }
  return 0;
}

std::string PageTypeText(uint16_t type) {
  if (type > rzv::kMaxPageType) return "Unknown(" + std::to_string(type) + ")";
  return std::string(rzv::RzvPageTypeName(type));
}

// Every page marked in use by the free-space maps, from its plain header,
// and whether its content reads back (decrypts and matches its DataCrc).
int PagesCommand(const std::vector<std::string>& argv) {
  Args args = Parse(argv, {"password"});
  rzv::RzvDiskPageManager manager;
  OpenReadOnly(manager, args);
  const int32_t total = manager.GetTotalPageCount();
  std::printf("PageNo\tType\tNextPageNo\tOwnerTableId\tPageVersion\tStorage\tCheck\n");
  int32_t used = 0;
  for (int32_t no = 0; no < total; ++no) {
    if (!manager.FreeSpace()->IsPageUsed(no)) continue;
    ++used;
    uint8_t head[rzv::kPageHeaderSize];
    manager.ReadPageRegion(head, no, sizeof head, 0);
    rzv::RzvPageHeader h(head);
    const bool system = manager.IsSystemPage(no);
    std::string check = "ok";
    if (!h.HasSignature()) {
      check = "no page signature";
    } else if (system) {
      const auto pfs = static_cast<uint16_t>(rzv::RzvPageType::kPfs);
      const auto eam = static_cast<uint16_t>(rzv::RzvPageType::kEam);
      if (h.PageType() != pfs && h.PageType() != eam) check = "not a free-space map page";
    } else {
      try {
        rzv::RzvPage* page = manager.GetPage(rzv::kSystemSessionId, no, false, rzv::kAnyPageType);
        manager.PutPage(page);
      } catch (const rzv::RzvException& ex) {
        check = ex.what();
      }
    }
    std::printf("%d\t%s\t%d\t%d\t%d\t%s\t%s\n", no, PageTypeText(h.PageType()).c_str(),
                h.NextPageNo(), h.OwnerTableId(), h.PageVersion(),
                system                                        ? "system"
                : manager.IsStoredEncrypted(no, h.PageType()) ? "encrypted"
                                                              : "plain",
                check.c_str());
  }
  std::printf("Pages: %d, in use: %d\n", total, used);
  return 0;
}

struct Command {
  std::string_view name;
  int (*run)(const std::vector<std::string>& argv);
};

constexpr Command kCommands[] = {
    {"create", CreateCommand},
    {"info", InfoCommand},
    {"pages", PagesCommand},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string_view name = argv[1];
  const std::vector<std::string> rest(argv + 2, argv + argc);
  for (const Command& command : kCommands) {
    if (command.name != name) continue;
    try {
      return command.run(rest);
    } catch (const UsageError& e) {
      std::fprintf(stderr, "rzv %s: %s\n%s", argv[1], e.text.c_str(), kUsage);
      return 2;
    } catch (const rzv::RzvException& e) {
      std::fprintf(stderr, "rzv %s: %s\n", argv[1], e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "rzv: unknown command '%s'\n%s", argv[1], kUsage);
  return 2;
}
