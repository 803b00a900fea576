#pragma once
// What every end-to-end run of the built setup needs: folders of its own, the environment
// that points the setup at them, and the options of the demo profile's loopback services.
#include <filesystem>
#include <map>
#include <string>

#include "tests/support/dev_server.h"

namespace E2E {

// Makes the temporary, lock and runtime folders under `root` (owner only) and returns the
// environment that gives the setup its own registry, ProgramData, temporary folder,
// single-instance and session locks, and the demo product's argument log.
inline std::map<std::string, std::string> PrivateRunEnvironment(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  for (const char* folder : {"tmp", "lock", "run"}) {
    fs::create_directories(root / folder);
    fs::permissions(root / folder, fs::perms::owner_all, fs::perm_options::replace);
  }
  return {{"OMK_REGISTRY_ROOT", (root / "registry").string()},
          {"OMK_PROGRAMDATA", (root / "programdata").string()},
          {"TMPDIR", (root / "tmp").string()},
          {"OMK_LOCK_DIR", (root / "lock").string()},
          {"XDG_RUNTIME_DIR", (root / "run").string()},
          {"OMK_DEMO_ARGS_LOG", (root / "installer-args.txt").string()}};
}

// The demo profile's endpoints: http on 47801, https on 47802 with the demo PKI's server
// certificate.
inline TestSupport::DevServerOptions DemoServerOptions(const std::filesystem::path& pki) {
  TestSupport::DevServerOptions options;
  options.https = true;
  options.httpPort = 47801;
  options.httpsPort = 47802;
  options.cert = (pki / "server.pem").string();
  options.key = (pki / "server.key").string();
  return options;
}

}  // namespace E2E
