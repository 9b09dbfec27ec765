// Inflates a body sent with Content-Encoding gzip or deflate as it arrives,
// and knows whether the compressed stream came to its end: a body cut short
// inflates without complaint up to the cut, so only the stream's end proves
// that it is whole.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

namespace caiji {

class BodyInflater
{
public:
    // Takes inflated bytes; false stops the inflation (the body is refused).
    using Sink = std::function<bool(QByteArrayView)>;

    // The encodings asked for in requests.
    static QByteArray acceptedEncodings();
    // An inflater for a Content-Encoding value, or nothing for an unencoded
    // body ("", "identity"); `supported` is false for any other encoding.
    static std::unique_ptr<BodyInflater> forEncoding(const QByteArray &encoding, bool *supported);

    ~BodyInflater();
    BodyInflater(const BodyInflater &) = delete;
    BodyInflater &operator=(const BodyInflater &) = delete;

    // Passes the inflated bytes of the next piece of the body to `sink`;
    // false when the data is not a valid stream or the sink refused.
    bool inflate(QByteArrayView compressed, const Sink &sink);
    // The compressed stream reached its end (its checksum matched).
    bool isComplete() const { return m_ended; }
    QString error() const { return m_error; }

private:
    explicit BodyInflater(bool deflate);
    bool start(int windowBits);

    struct Stream;
    std::unique_ptr<Stream> m_stream;
    bool m_deflate = false;
    bool m_started = false; // some output came, so a raw-deflate retry is too late
    bool m_ended = false;
    QString m_error;
};

} // namespace caiji
