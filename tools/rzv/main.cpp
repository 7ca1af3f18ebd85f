// rzv: a command-line tool for people who keep Ruzuzuve database files.
//
//   rzv create FILE [--password P] [--cipher ID] [--page-size N]
//   rzv info FILE [--password P]
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
#include "engine/storage/disk_page_manager.h"
#include "engine/storage/exception.h"

namespace {

constexpr const char* kUsage =
    "usage: rzv create FILE [--password P] [--cipher ID] [--page-size N]\n"
    "       rzv info FILE [--password P]\n";

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

int CreateCommand(const std::vector<std::string>& argv) {
  Args args = Parse(argv, {"password", "cipher", "page-size"});
  rzv::RzvPassword password;
  password.password = args.Get("password").value_or("");
  password.algorithm = static_cast<uint8_t>(args.GetInt("cipher", 0, 0, 255));
  const auto page_size = static_cast<int32_t>(args.GetInt("page-size", 4096, 0, INT32_MAX));
  rzv::RzvDiskPageManager manager;
  manager.CreateDatabaseFile(args.file, password, 8, page_size);
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
  if (h.IsEncrypted()) {
    rzv::RzvPassword password{args.Get("password").value_or(""), e.crypto_algorithm};
    rzv::RzvDiskPageManager manager;
    bool multi_user = false, needs_repair = false, read_only = true;
    try {
      manager.OpenDatabaseFile(args.file, password, multi_user, false, needs_repair, read_only);
      password_state = "fits";
    } catch (const rzv::RzvException& ex) {
      if (ex.NativeError() != 30445) throw;
      password_state = "does not fit";
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
  return 0;
}

struct Command {
  std::string_view name;
  int (*run)(const std::vector<std::string>& argv);
};

constexpr Command kCommands[] = {
    {"create", CreateCommand},
    {"info", InfoCommand},
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
