#include "qurlinfo.h"

struct QUrlInfo::Private {
  QString name;
  int permissions = 0;
  QString owner;
  QString group;
  qint64 size = 0;
  QDateTime lastModified;
  QDateTime lastRead;
  bool isDir = false;
  bool isFile = true;
  bool isSymLink = false;
  bool isWritable = true;
  bool isReadable = true;
  bool isExecutable = false;

  bool operator==(const Private& o) const {
    return name == o.name && permissions == o.permissions && owner == o.owner && group == o.group &&
           size == o.size && lastModified == o.lastModified && lastRead == o.lastRead &&
           isDir == o.isDir && isFile == o.isFile && isSymLink == o.isSymLink &&
           isWritable == o.isWritable && isReadable == o.isReadable &&
           isExecutable == o.isExecutable;
  }
};

QUrlInfo::QUrlInfo() = default;

QUrlInfo::QUrlInfo(const QUrlInfo& other) : d(other.d ? new Private(*other.d) : nullptr) {}

QUrlInfo& QUrlInfo::operator=(const QUrlInfo& other) {
  if (this != &other) d.reset(other.d ? new Private(*other.d) : nullptr);
  return *this;
}

QUrlInfo::~QUrlInfo() = default;

QUrlInfo::Private& QUrlInfo::data() {
  if (!d) d.reset(new Private);
  return *d;
}

void QUrlInfo::setName(const QString& name) { data().name = name; }
void QUrlInfo::setDir(bool b) { data().isDir = b; }
void QUrlInfo::setFile(bool b) { data().isFile = b; }
void QUrlInfo::setSymLink(bool b) { data().isSymLink = b; }
void QUrlInfo::setOwner(const QString& s) { data().owner = s; }
void QUrlInfo::setGroup(const QString& s) { data().group = s; }
void QUrlInfo::setSize(qint64 size) { data().size = size; }
void QUrlInfo::setWritable(bool b) { data().isWritable = b; }
void QUrlInfo::setReadable(bool b) { data().isReadable = b; }
void QUrlInfo::setPermissions(int p) { data().permissions = p; }
void QUrlInfo::setLastModified(const QDateTime& dt) { data().lastModified = dt; }

bool QUrlInfo::isValid() const { return d != nullptr; }
QString QUrlInfo::name() const { return d ? d->name : QString(); }
int QUrlInfo::permissions() const { return d ? d->permissions : 0; }
QString QUrlInfo::owner() const { return d ? d->owner : QString(); }
QString QUrlInfo::group() const { return d ? d->group : QString(); }
qint64 QUrlInfo::size() const { return d ? d->size : 0; }
QDateTime QUrlInfo::lastModified() const { return d ? d->lastModified : QDateTime(); }
QDateTime QUrlInfo::lastRead() const { return d ? d->lastRead : QDateTime(); }
bool QUrlInfo::isDir() const { return d && d->isDir; }
bool QUrlInfo::isFile() const { return d && d->isFile; }
bool QUrlInfo::isSymLink() const { return d && d->isSymLink; }
bool QUrlInfo::isWritable() const { return d && d->isWritable; }
bool QUrlInfo::isReadable() const { return d && d->isReadable; }
bool QUrlInfo::isExecutable() const { return d && d->isExecutable; }

bool QUrlInfo::operator==(const QUrlInfo& other) const {
  if (!d || !other.d) return !d && !other.d;
  return *d == *other.d;
}
