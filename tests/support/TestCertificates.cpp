#include "tests/support/TestCertificates.h"

#include <QFile>
#include <QProcess>

#include <stdexcept>

namespace testsupport {

namespace {

const QString kLocalNames = QStringLiteral("DNS:localhost,IP:127.0.0.1");

QString CaConfig(const QString& dir, const QString& ca) {
  return QStringLiteral("[ ca ]\ndefault_ca = d\n[ d ]\ndatabase = %1/%2-index.txt\n"
                        "new_certs_dir = %1\nserial = %1/%2-serial\ndefault_md = sha256\n"
                        "policy = p\ncopy_extensions = copy\nunique_subject = no\n"
                        "[ p ]\ncommonName = supplied\n")
      .arg(dir, ca);
}

void WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0) {
    throw std::runtime_error("certificates: cannot write " + path.toStdString());
  }
}

} // namespace

TestCertificates::TestCertificates() {
  if (!dir_.isValid()) {
    throw std::runtime_error("certificates: no temporary directory");
  }
  for (const QString& ca : {QStringLiteral("ca"), QStringLiteral("rogue-ca")}) {
    Run({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-new"),
         QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-keyout"), Path(ca + QStringLiteral(".key")), QStringLiteral("-out"),
         Path(ca + QStringLiteral(".pem")), QStringLiteral("-days"), QStringLiteral("30"),
         QStringLiteral("-subj"), QStringLiteral("/CN=Marquelo test ") + ca});
    WriteFile(Path(ca + QStringLiteral(".cnf")), CaConfig(dir_.path(), ca).toUtf8());
    WriteFile(Path(ca + QStringLiteral("-index.txt")), {});
    WriteFile(Path(ca + QStringLiteral("-serial")), "1000\n");
  }
  // openssl ca takes dates as UTCTime; "now" is any date well inside the authority's 30 days.
  Signed(QStringLiteral("valid"), kLocalNames, QStringLiteral("ca"), {}, {});
  Signed(QStringLiteral("expired"), kLocalNames, QStringLiteral("ca"),
         QStringLiteral("200101000000Z"), QStringLiteral("201231000000Z"));
  Signed(QStringLiteral("not-yet"), kLocalNames, QStringLiteral("ca"),
         QStringLiteral("400101000000Z"), QStringLiteral("401231000000Z"));
  Signed(QStringLiteral("other-host"), QStringLiteral("DNS:other.invalid"), QStringLiteral("ca"),
         {}, {});
  Signed(QStringLiteral("unknown-ca"), kLocalNames, QStringLiteral("rogue-ca"), {}, {});
  Run({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-new"),
       QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
       QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
       QStringLiteral("-keyout"), KeyFile(QStringLiteral("self-signed")), QStringLiteral("-out"),
       CertificateFile(QStringLiteral("self-signed")), QStringLiteral("-days"),
       QStringLiteral("30"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
       QStringLiteral("-addext"), QStringLiteral("subjectAltName=") + kLocalNames});
}

QStringList TestCertificates::Names() {
  return {QStringLiteral("valid"),       QStringLiteral("expired"),
          QStringLiteral("not-yet"),     QStringLiteral("other-host"),
          QStringLiteral("self-signed"), QStringLiteral("unknown-ca")};
}

void TestCertificates::Signed(const QString& name, const QString& names, const QString& ca,
                              const QString& startDate, const QString& endDate) const {
  const QString request = Path(name + QStringLiteral(".csr"));
  Run({QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-newkey"),
       QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
       QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
       QStringLiteral("-keyout"), KeyFile(name), QStringLiteral("-out"), request,
       QStringLiteral("-subj"), QStringLiteral("/CN=") + name, QStringLiteral("-addext"),
       QStringLiteral("subjectAltName=") + names});
  QStringList arguments = {QStringLiteral("ca"),
                           QStringLiteral("-batch"),
                           QStringLiteral("-notext"),
                           QStringLiteral("-config"),
                           Path(ca + QStringLiteral(".cnf")),
                           QStringLiteral("-cert"),
                           Path(ca + QStringLiteral(".pem")),
                           QStringLiteral("-keyfile"),
                           Path(ca + QStringLiteral(".key")),
                           QStringLiteral("-in"),
                           request,
                           QStringLiteral("-out"),
                           CertificateFile(name)};
  if (startDate.isEmpty()) {
    arguments << QStringLiteral("-days") << QStringLiteral("30");
  } else {
    arguments << QStringLiteral("-startdate") << startDate << QStringLiteral("-enddate") << endDate;
  }
  Run(arguments);
}

void TestCertificates::Run(const QStringList& arguments) const {
  QProcess openssl;
  openssl.setProcessChannelMode(QProcess::MergedChannels);
  openssl.start(QStringLiteral("openssl"), arguments);
  if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
      openssl.exitCode() != 0) {
    throw std::runtime_error("certificates: openssl " + arguments.join(u' ').toStdString() +
                             " failed:\n" + openssl.readAll().toStdString());
  }
}

QString TestCertificates::Path(const QString& file) const {
  return dir_.filePath(file);
}

QString TestCertificates::CaFile() const {
  return Path(QStringLiteral("ca.pem"));
}

QString TestCertificates::CertificateFile(const QString& name) const {
  return Path(name + QStringLiteral("-cert.pem"));
}

QString TestCertificates::KeyFile(const QString& name) const {
  return Path(name + QStringLiteral("-key.pem"));
}

} // namespace testsupport
