#pragma once

// A private certificate authority and server certificates, made per run with the openssl
// command line inside a temporary directory that goes away with the object.
//
// Every certificate has an EC P-256 key. The authority file (CaFile) is the only thing a test
// trusts; "unknown-ca" is signed by a second authority that nobody trusts.
//
//   testsupport::TestCertificates certs;
//   NginxServer nginx({}, certs.Tls("valid"));
//   handler.SetTrustedCertificatesFile(certs.CaFile());

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

class TestCertificates {
public:
  // Makes the authority and every certificate below. Raises std::runtime_error, with openssl's
  // output, when a step fails.
  TestCertificates();

  // The names of the certificates made:
  //   valid        localhost and 127.0.0.1, by the authority, valid now
  //   expired      the same names, valid only in 2020
  //   not-yet      the same names, valid only from 2040
  //   other-host   other.invalid only
  //   self-signed  localhost and 127.0.0.1, signed by its own key
  //   unknown-ca   localhost and 127.0.0.1, by an authority not in CaFile
  static QStringList Names();

  QString CaFile() const;
  // The PEM certificate and key file of one of Names().
  QString CertificateFile(const QString& name) const;
  QString KeyFile(const QString& name) const;

private:
  void Run(const QStringList& arguments) const;
  void Signed(const QString& name, const QString& names, const QString& ca,
              const QString& startDate, const QString& endDate) const;
  QString Path(const QString& file) const;

  QTemporaryDir dir_;
};

} // namespace testsupport
