// One entry of a remote directory listing, as the FTP client reports it.
#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <memory>

class QUrlInfo {
 public:
  // The Unix permission triplets, with their usual octal values.
  enum PermissionSpec {
    ReadOwner = 00400,
    WriteOwner = 00200,
    ExeOwner = 00100,
    ReadGroup = 00040,
    WriteGroup = 00020,
    ExeGroup = 00010,
    ReadOther = 00004,
    WriteOther = 00002,
    ExeOther = 00001,
  };

  QUrlInfo();
  QUrlInfo(const QUrlInfo& other);
  QUrlInfo& operator=(const QUrlInfo& other);
  virtual ~QUrlInfo();

  // Setters are virtual so that callers may record what was set. The first setter
  // call creates the entry with its defaults (a readable, writable file).
  virtual void setName(const QString& name);
  virtual void setDir(bool b);
  virtual void setFile(bool b);
  virtual void setSymLink(bool b);
  virtual void setOwner(const QString& s);
  virtual void setGroup(const QString& s);
  virtual void setSize(qint64 size);
  virtual void setWritable(bool b);
  virtual void setReadable(bool b);
  virtual void setPermissions(int p);
  virtual void setLastModified(const QDateTime& dt);

  // False until a setter has been called.
  bool isValid() const;
  QString name() const;
  int permissions() const;
  QString owner() const;
  QString group() const;
  qint64 size() const;
  QDateTime lastModified() const;
  QDateTime lastRead() const;
  bool isDir() const;
  bool isFile() const;
  bool isSymLink() const;
  bool isWritable() const;
  bool isReadable() const;
  bool isExecutable() const;

  bool operator==(const QUrlInfo& other) const;
  bool operator!=(const QUrlInfo& other) const { return !(*this == other); }

 private:
  struct Private;
  Private& data();
  std::unique_ptr<Private> d;
};

Q_DECLARE_METATYPE(QUrlInfo)
