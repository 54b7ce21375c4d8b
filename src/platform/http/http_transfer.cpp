#include "platform/http/http_transfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>

#include "common/text_case.h"
#include "platform/http/plain_http.h"

#include <limits>
#include <vector>

namespace platform {

int64_t contentLengthValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (n > (kMax - digit) / 10) return kMax;
    n = n * 10 + digit;
  }
  return n;
}

struct HttpTransfer::Impl {
  QNetworkAccessManager manager;
  QPointer<QNetworkReply> reply;
  // Plain http goes over one socket in this thread; https through the manager.
  PlainHttpGet plain;
  bool plainBusy = false;
  int timeoutMs = 30000;
  int64_t maxBytes = std::numeric_limits<int64_t>::max();
  int64_t minBytes = 0;
  QTimer speedTimer;
  int64_t windowBytes = 0;  // body bytes since the speed window began
  QList<QSslCertificate> trusted;
  // Shared, so that a handler that is running keeps its own closure alive
  // while the request is cancelled or replaced from within it.
  std::shared_ptr<Handlers> handlers = std::make_shared<Handlers>();
  unsigned generation = 0;  // requests already abandoned report nothing
  bool responseSeen = false;
  bool failed = false;
  int status = 0;
  std::optional<int64_t> length;  // a Content-Length that frames the body
  int64_t expected = 0;           // the size the caller is told
  int64_t received = 0;
  std::string error;
  std::vector<std::pair<std::string, std::string>> headers;

  Impl() {
    QObject::connect(&speedTimer, &QTimer::timeout, &manager, [this] {
      if (windowBytes < minBytes)
        fail("slower than " + std::to_string(minBytes) + " bytes in " + std::to_string(speedTimer.interval()) + " ms",
             generation);
      windowBytes = 0;
    });
  }

  void drop() {
    speedTimer.stop();
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

  void releaseHandlers() { handlers = std::make_shared<Handlers>(); }

  void finish(InetState state, unsigned gen) {
    if (gen != generation) return;
    ++generation;
    drop();
    const auto h = handlers;
    releaseHandlers();
    if (h->onStateChanged) h->onStateChanged(state);
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
    // A redirect that the manager follows is not the response; one it refuses
    // ends the reply with an error.
    if (code.toInt() >= 300 && code.toInt() <= 399 && reply->hasRawHeader("Location")) return true;
    responseSeen = true;
    status = code.toInt();
    headers.clear();
    for (const auto& pair : reply->rawHeaderPairs())
      headers.emplace_back(pair.first.toStdString(), pair.second.toStdString());
    const QByteArray cl = reply->rawHeader("Content-Length");
    bool ok = false;
    const qint64 n = cl.trimmed().toLongLong(&ok);
    if (ok && n >= 0) length = n;
    expected = reply->hasRawHeader("Transfer-Encoding") ? 0 : contentLengthValue(cl.toStdString());
    if (status < 200 || status > 299) {
      fail("HTTP status " + std::to_string(status), gen);
      return false;
    }
    if (!withinCeiling(gen)) return false;
    if (const auto h = handlers; h->onResponse) h->onResponse();
    return gen == generation;
  }

  // A declared size above the ceiling fails the request before any body.
  bool withinCeiling(unsigned gen) {
    if (expected <= maxBytes && (!length || *length <= maxBytes)) return true;
    fail("larger than allowed (" + std::to_string(maxBytes) + " bytes)", gen);
    return false;
  }

  // Counts body bytes; false (and the request failed) past the ceiling.
  bool count(size_t bytes, unsigned gen) {
    if (static_cast<uint64_t>(bytes) > static_cast<uint64_t>(maxBytes - received)) {
      fail("larger than allowed (" + std::to_string(maxBytes) + " bytes)", gen);
      return false;
    }
    received += static_cast<int64_t>(bytes);
    windowBytes += static_cast<int64_t>(bytes);
    return true;
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
      if (!count(static_cast<size_t>(chunk.size()), gen)) return;
      if (length && received > *length) {
        fail("body longer than Content-Length", gen);
        return;
      }
      if (const auto h = handlers; h->onData)
        h->onData(std::string_view(chunk.constData(), static_cast<size_t>(chunk.size())));
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
  d.handlers = std::make_shared<Handlers>(std::move(handlers));
  d.timeoutMs = timeoutMs_;
  d.maxBytes = maxBytes_;
  d.minBytes = minBytes_;
  d.windowBytes = 0;
  if (minBytes_ > 0 && speedWindowMs_ > 0) d.speedTimer.start(speedWindowMs_);
  // Addresses are taken as people write them: a blank or a stray "%" in a file
  // name is sent escaped rather than refusing the request.
  d.start(QUrl(QString::fromStdString(url_), QUrl::TolerantMode), gen, 0);
}

void HttpTransfer::Impl::start(const QUrl& url, unsigned gen, int redirects) {
  responseSeen = false;
  failed = false;
  status = 0;
  length.reset();
  expected = 0;
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
    // The plain transfer has framed the body already; here the size the
    // caller is told, and a frame for the ceiling test.
    bool chunked = false;
    for (const auto& [key, value] : h) {
      const std::string k = common::asciiLower(key);
      if (k == "transfer-encoding") chunked = true;
      if (k != "content-length") continue;
      expected = contentLengthValue(value);
      bool ok = false;
      const qint64 n = QByteArray::fromStdString(value).trimmed().toLongLong(&ok);
      if (ok && n >= 0) length = n;
    }
    if (chunked) {
      expected = 0;
      length.reset();
    }
    if (code >= 300 && code <= 399 && code != 304) {
      std::string location;
      for (const auto& [key, value] : h)
        if (common::asciiLower(key) == "location") location = value;
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
    if (expected > maxBytes || (length && *length > maxBytes)) {
      plainBusy = false;
      QTimer::singleShot(0, &manager, [this, gen] { withinCeiling(gen); });
      return false;
    }
    responseSeen = true;
    if (const auto h = handlers; h->onResponse) h->onResponse();
    return gen == generation;
  };
  cb.onData = [this, gen](std::string_view bytes) {
    if (gen != generation) return;
    if (!count(bytes.size(), gen)) return;
    if (const auto h = handlers; h->onData) h->onData(bytes);
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
  if (!trusted.isEmpty()) {
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificates(trusted);
    request.setSslConfiguration(ssl);
  }
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
  impl_->releaseHandlers();
}

void HttpTransfer::setResolver(std::function<std::vector<std::string>(const std::string& host)> resolver) {
  impl_->plain.setResolver(std::move(resolver));
}

void HttpTransfer::addTrustedCertificates(const std::string& pem) {
  impl_->trusted += QSslCertificate::fromData(QByteArray::fromStdString(pem), QSsl::Pem);
}

bool HttpTransfer::busy() const { return impl_->reply != nullptr || impl_->plainBusy; }

std::string HttpTransfer::getHeader(const std::string& name) const {
  const std::string wanted = common::asciiLower(name);
  for (const auto& [key, value] : impl_->headers)
    if (common::asciiLower(key) == wanted) return value;
  return {};
}

int HttpTransfer::statusCode() const { return impl_->status; }
int64_t HttpTransfer::contentLength() const { return impl_->expected; }
int64_t HttpTransfer::bytesReceived() const { return impl_->received; }
std::string HttpTransfer::errorText() const { return impl_->error; }

}  // namespace platform
