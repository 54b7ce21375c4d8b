#include "platform/http/http_transfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include "platform/http/plain_http.h"

#include <vector>

namespace platform {

struct HttpTransfer::Impl {
  QNetworkAccessManager manager;
  QPointer<QNetworkReply> reply;
  // Plain http goes over one socket in this thread; https through the manager.
  PlainHttpGet plain;
  bool plainBusy = false;
  int timeoutMs = 30000;
  Handlers handlers;
  unsigned generation = 0;  // requests already abandoned report nothing
  bool responseSeen = false;
  bool failed = false;
  int status = 0;
  std::optional<int64_t> length;
  int64_t received = 0;
  std::string error;
  std::vector<std::pair<std::string, std::string>> headers;

  void drop() {
    if (plainBusy) {
      plainBusy = false;
      plain.stop();
    }
    if (reply) {
      QNetworkReply* r = reply;
      reply = nullptr;
      r->disconnect();
      r->abort();
      r->deleteLater();
    }
  }

  void finish(InetState state, unsigned gen) {
    if (gen != generation) return;
    ++generation;
    drop();
    auto done = std::move(handlers.onStateChanged);
    handlers = {};
    if (done) done(state);
  }

  void fail(const std::string& why, unsigned gen) {
    if (gen != generation) return;
    failed = true;
    error = why;
    finish(InetState::RequestFailed, gen);
  }

  // Reads the status and headers once they are there. False when the request
  // has failed because of them.
  bool takeResponse(unsigned gen) {
    if (responseSeen) return true;
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid()) return true;  // not yet known
    responseSeen = true;
    status = code.toInt();
    headers.clear();
    for (const auto& pair : reply->rawHeaderPairs())
      headers.emplace_back(pair.first.toStdString(), pair.second.toStdString());
    const QByteArray cl = reply->rawHeader("Content-Length");
    bool ok = false;
    const qint64 n = cl.trimmed().toLongLong(&ok);
    if (ok && n >= 0) length = n;
    if (status < 200 || status > 299) {
      fail("HTTP status " + std::to_string(status), gen);
      return false;
    }
    if (handlers.onResponse) handlers.onResponse();
    return gen == generation;
  }

  void start(const QUrl& url, unsigned gen, int redirects);
  void startPlain(const QUrl& url, unsigned gen, int redirects);
  void startManager(const QUrl& url, unsigned gen);

  void readBody(unsigned gen) {
    if (gen != generation || !reply) return;
    if (!takeResponse(gen)) return;
    if (!responseSeen) return;
    for (;;) {
      if (gen != generation || !reply) return;
      // Reading what is there as one array hands over the reply's own buffer
      // without another copy.
      const qint64 available = reply->bytesAvailable();
      if (available <= 0) return;
      const QByteArray chunk = reply->read(available);
      if (chunk.isEmpty()) return;
      received += chunk.size();
      if (length && received > *length) {
        fail("body longer than Content-Length", gen);
        return;
      }
      if (handlers.onData) handlers.onData(std::string_view(chunk.constData(), static_cast<size_t>(chunk.size())));
    }
  }
};

HttpTransfer::HttpTransfer() : impl_(std::make_unique<Impl>()) {}

HttpTransfer::~HttpTransfer() {
  if (impl_) {
    ++impl_->generation;
    impl_->drop();
  }
}

void HttpTransfer::execute(Handlers handlers) {
  Impl& d = *impl_;
  ++d.generation;
  d.drop();
  const unsigned gen = d.generation;
  d.handlers = std::move(handlers);
  d.timeoutMs = timeoutMs_;
  // Addresses are taken as people write them: a blank or a stray "%" in a file
  // name is sent escaped rather than refusing the request.
  d.start(QUrl(QString::fromStdString(url_), QUrl::TolerantMode), gen, 0);
}

void HttpTransfer::Impl::start(const QUrl& url, unsigned gen, int redirects) {
  responseSeen = false;
  failed = false;
  status = 0;
  length.reset();
  received = 0;
  error.clear();
  headers.clear();
  if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") || url.host().isEmpty()) {
    QTimer::singleShot(0, &manager, [this, gen] { fail("not an http address", gen); });
    return;
  }
  if (url.scheme() == "http") startPlain(url, gen, redirects);
  else startManager(url, gen);
}

void HttpTransfer::Impl::startPlain(const QUrl& url, unsigned gen, int redirects) {
  std::string target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment).toStdString();
  if (target.empty() || target[0] != '/') target = "/" + target;
  PlainHttpGet::Callbacks cb;
  cb.onHeaders = [this, gen, url, redirects](int code, const PlainHttpGet::Headers& h) {
    if (gen != generation) return false;
    status = code;
    headers = h;
    for (const auto& [key, value] : h) {
      if (QByteArray::fromStdString(key).toLower() != "content-length") continue;
      bool ok = false;
      const qint64 n = QByteArray::fromStdString(value).trimmed().toLongLong(&ok);
      if (ok && n >= 0) length = n;
    }
    for (const auto& [key, value] : h)
      if (QByteArray::fromStdString(key).toLower() == "transfer-encoding") length.reset();
    if (code >= 300 && code <= 399 && code != 304) {
      std::string location;
      for (const auto& [key, value] : h)
        if (QByteArray::fromStdString(key).toLower() == "location") location = value;
      if (!location.empty() && redirects < 5) {
        const QUrl next = url.resolved(QUrl(QString::fromStdString(location)));
        plainBusy = false;
        QTimer::singleShot(0, &manager, [this, gen, next, redirects] {
          if (gen == generation) start(next, gen, redirects + 1);
        });
        return false;
      }
    }
    if (code < 200 || code > 299) {
      plainBusy = false;
      QTimer::singleShot(0, &manager, [this, gen, code] { fail("HTTP status " + std::to_string(code), gen); });
      return false;
    }
    responseSeen = true;
    if (handlers.onResponse) handlers.onResponse();
    return gen == generation;
  };
  cb.onData = [this, gen](std::string_view bytes) {
    if (gen != generation) return;
    received += static_cast<int64_t>(bytes.size());
    if (handlers.onData) handlers.onData(bytes);
  };
  cb.onEnd = [this, gen](bool ok, const std::string& why) {
    if (gen != generation) return;
    plainBusy = false;
    if (ok) finish(InetState::ResponseCompleted, gen);
    else fail(why, gen);
  };
  plainBusy = true;
  plain.start(url.host(QUrl::FullyDecoded).toStdString(), url.port(80), target, timeoutMs, std::move(cb));
}

void HttpTransfer::Impl::startManager(const QUrl& url, unsigned gen) {
  Impl& d = *this;
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
  // The body is saved byte for byte: no transparent decompression.
  request.setRawHeader("Accept-Encoding", "identity");
  request.setTransferTimeout(timeoutMs);
  QNetworkReply* reply = d.manager.get(request);
  reply->setReadBufferSize(2 << 20);
  d.reply = reply;
  Impl* impl = this;
  QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [impl, gen] {
    if (gen == impl->generation && impl->reply) impl->takeResponse(gen);
  });
  QObject::connect(reply, &QIODevice::readyRead, reply, [impl, gen] { impl->readBody(gen); });
  QObject::connect(reply, &QNetworkReply::finished, reply, [impl, gen] {
    if (gen != impl->generation || !impl->reply) return;
    impl->readBody(gen);
    if (gen != impl->generation || !impl->reply) return;
    if (impl->reply->error() != QNetworkReply::NoError) {
      impl->fail(impl->reply->errorString().toStdString(), gen);
      return;
    }
    if (!impl->responseSeen) {
      impl->fail("no HTTP response", gen);
      return;
    }
    if (impl->length && impl->received != *impl->length) {
      impl->fail("body shorter than Content-Length", gen);
      return;
    }
    impl->finish(InetState::ResponseCompleted, gen);
  });
}

void HttpTransfer::cancel() {
  ++impl_->generation;
  impl_->drop();
  impl_->handlers = {};
}

bool HttpTransfer::busy() const { return impl_->reply != nullptr || impl_->plainBusy; }

std::string HttpTransfer::getHeader(const std::string& name) const {
  const QByteArray wanted = QByteArray::fromStdString(name).toLower();
  for (const auto& [key, value] : impl_->headers)
    if (QByteArray::fromStdString(key).toLower() == wanted) return value;
  return {};
}

int HttpTransfer::statusCode() const { return impl_->status; }
std::optional<int64_t> HttpTransfer::contentLength() const { return impl_->length; }
int64_t HttpTransfer::bytesReceived() const { return impl_->received; }
std::string HttpTransfer::errorText() const { return impl_->error; }

}  // namespace platform
