// Which presented certificate a demo build's preview takes for the demo's own: real
// certificates made with the openssl command line, compared with real files.

#include "app/DemoCertificate.h"

#include "tests/support/NamedRow.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>

namespace {

// Two unrelated self-signed certificates for the same name, as two runs of the demo make.
class Certificates {
public:
  Certificates() {
    EXPECT_TRUE(dir_.isValid());
    for (const char* name : {"first", "second"}) {
      QProcess openssl;
      openssl.start(QStringLiteral("openssl"),
                    {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                     QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                     QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes"),
                     QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                     QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"), Path("key"),
                     QStringLiteral("-out"), Path(name)});
      EXPECT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0)
          << openssl.readAllStandardError().toStdString();
    }
    WriteFile("both", ReadFile("second") + ReadFile("first"));
    WriteFile("garbage", "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n"
                         "-----END CERTIFICATE-----\n");
    WriteFile("empty", "");
  }

  QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
  QSslCertificate Certificate(const char* name) const {
    return QSslCertificate::fromPath(Path(name)).value(0);
  }

private:
  QByteArray ReadFile(const char* name) const {
    QFile file(Path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  void WriteFile(const char* name, const QByteArray& bytes) const {
    QFile file(Path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }

  QTemporaryDir dir_;
};

struct ChainCase : testsupport::NamedRow {
  std::vector<const char*> chain; // certificates as the server presents them, its own first
  const char* file;               // the file the demo run names
  bool accepted;
};

class PresentsCertificateFromTest : public testing::TestWithParam<ChainCase> {
protected:
  static void SetUpTestSuite() { certificates_ = new Certificates; }
  static void TearDownTestSuite() {
    delete certificates_;
    certificates_ = nullptr;
  }
  static inline Certificates* certificates_{};
};

TEST_P(PresentsCertificateFromTest, AcceptsOnlyTheNamedCertificateAsTheServers) {
  const ChainCase& c = GetParam();
  QList<QSslCertificate> chain;
  for (const char* name : c.chain) {
    chain << certificates_->Certificate(name);
    ASSERT_FALSE(chain.last().isNull()) << name;
  }
  const QString file = c.file[0] == '\0' ? QString() : certificates_->Path(c.file);
  EXPECT_EQ(PresentsCertificateFrom(chain, file), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PresentsCertificateFromTest,
    testing::Values(ChainCase{"TheNamedOne", {"first"}, "first", true},
                    ChainCase{"TheNamedOneWithMoreBehindIt", {"first", "second"}, "first", true},
                    ChainCase{"AnotherForTheSameName", {"second"}, "first", false},
                    ChainCase{
                        "TheNamedOneOnlyFurtherUpTheChain", {"second", "first"}, "first", false},
                    ChainCase{"NoChainAtAll", {}, "first", false},
                    ChainCase{"OnlyTheFilesFirstCertificateCounts", {"first"}, "both", false},
                    ChainCase{"NoFileNamed", {"first"}, "", false},
                    ChainCase{"AMissingFile", {"first"}, "missing", false},
                    ChainCase{"AFileOfGarbage", {"first"}, "garbage", false},
                    ChainCase{"AnEmptyFile", {"first"}, "empty", false}),
    testsupport::RowName());

} // namespace
