#pragma once

// A CA and server certificates made with the openssl command in a folder of
// their own, for the tls:// and NATS TLS tests and benchmarks. Keys are
// P-256 (fast handshakes) and readable by their owner only.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TestCerts {
 public:
  struct Pair {
    std::string cert;
    std::string key;
  };

  TestCerts() {
    char tmpl[] = "/tmp/mpay-certs-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    strDir = tmpl;
    caFile = strDir + "/ca.pem";
    std::ofstream(strDir + "/ca.cnf")
        << "[ca]\ndefault_ca = own\n[own]\ndir = " << strDir
        << "\ndatabase = $dir/index.txt\nnew_certs_dir = $dir\nserial = $dir/serial\n"
           "default_md = sha256\npolicy = any\ncopy_extensions = copy\nunique_subject = no\n"
           "[any]\ncommonName = supplied\n";
    std::ofstream(strDir + "/index.txt");
    std::ofstream(strDir + "/serial") << "01\n";
    bOk = Run("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + strDir +
              "/ca.key -out " + caFile + " -subj /CN=mpay-test-ca -days 2") &&
          Make("good", "DNS:localhost,IP:127.0.0.1", "-days 2", good) &&
          Make("wrong-name", "DNS:elsewhere.invalid,IP:127.0.0.2", "-days 2", wrongName) &&
          Make("expired", "DNS:localhost,IP:127.0.0.1",
               "-startdate 20200101000000Z -enddate 20200102000000Z", expired) &&
          Run("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + strDir +
              "/self.key -out " + strDir + "/self.pem -subj /CN=localhost -days 2 -addext " +
              "subjectAltName=DNS:localhost,IP:127.0.0.1");
    untrusted = {strDir + "/self.pem", strDir + "/self.key"};
    for (const Pair* p : {&good, &wrongName, &expired, &untrusted}) chmod(p->key.c_str(), 0600);
  }
  ~TestCerts() {
    if (!strDir.empty()) std::filesystem::remove_all(strDir);
  }
  TestCerts(const TestCerts&) = delete;
  TestCerts& operator=(const TestCerts&) = delete;

  bool ok() const { return bOk; }
  const std::string& dir() const { return strDir; }

  std::string caFile;  // the CA the clients trust
  Pair good;           // from the CA, for localhost and 127.0.0.1
  Pair wrongName;      // from the CA, for other names
  Pair expired;        // from the CA, for localhost and 127.0.0.1, valid in 2020 only
  Pair untrusted;      // self-signed, for localhost and 127.0.0.1

 private:
  bool Run(const std::string& args) {
    const std::string cmd = "openssl " + args + " >>" + strDir + "/openssl.log 2>&1";
    return std::system(cmd.c_str()) == 0;
  }
  bool Make(const std::string& name, const std::string& names, const std::string& validity,
            Pair& out) {
    out = {strDir + "/" + name + ".pem", strDir + "/" + name + ".key"};
    const std::string csr = strDir + "/" + name + ".csr";
    return Run("req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + out.key +
               " -out " + csr + " -subj /CN=" + name + " -addext subjectAltName=" + names) &&
           Run("ca -batch -notext -config " + strDir + "/ca.cnf -cert " + caFile + " -keyfile " +
               strDir + "/ca.key -in " + csr + " -out " + out.cert + " " + validity);
  }

  std::string strDir;
  bool bOk = false;
};
