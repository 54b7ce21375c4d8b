#include "platform/http/http_transfer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <vector>

namespace platform {

struct HttpTransfer::Impl {
  QNetworkAccessManager manager;
  QPointer<QNetworkReply> reply;
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
  d.responseSeen = false;
  d.failed = false;
  d.status = 0;
  d.length.reset();
  d.received = 0;
  d.error.clear();
  d.headers.clear();

  const QUrl url(QString::fromStdString(url_), QUrl::StrictMode);
  if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") || url.host().isEmpty()) {
    Impl* impl = impl_.get();
    QTimer::singleShot(0, &d.manager, [impl, gen] { impl->fail("not an http address", gen); });
    return;
  }
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
  // The body is saved byte for byte: no transparent decompression.
  request.setRawHeader("Accept-Encoding", "identity");
  request.setTransferTimeout(timeoutMs_);
  QNetworkReply* reply = d.manager.get(request);
  reply->setReadBufferSize(2 << 20);
  d.reply = reply;
  Impl* impl = impl_.get();
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

bool HttpTransfer::busy() const { return impl_->reply != nullptr; }

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
