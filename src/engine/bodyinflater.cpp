#include "engine/bodyinflater.h"

#include <zlib.h>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

constexpr qsizetype OutputChunkBytes = 64 * 1024;
// zlib's window size, plus 32 to read either a gzip or a zlib header.
constexpr int AutoHeaderBits = 15 + 32;
constexpr int RawDeflateBits = -15;

} // namespace

struct BodyInflater::Stream
{
    z_stream z{};
    bool open = false;
    ~Stream()
    {
        if (open)
            inflateEnd(&z);
    }
};

QByteArray BodyInflater::acceptedEncodings()
{
    return QByteArrayLiteral("gzip, deflate");
}

std::unique_ptr<BodyInflater> BodyInflater::forEncoding(const QByteArray &encoding, bool *supported)
{
    const QByteArray name = encoding.trimmed().toLower();
    *supported = true;
    if (name.isEmpty() || name == "identity")
        return nullptr;
    if (name == "gzip" || name == "x-gzip" || name == "deflate") {
        std::unique_ptr<BodyInflater> inflater(new BodyInflater(name == "deflate"));
        if (inflater->start(AutoHeaderBits))
            return inflater;
    }
    *supported = false;
    return nullptr;
}

BodyInflater::BodyInflater(bool deflate) : m_deflate(deflate) {}

BodyInflater::~BodyInflater() = default;

bool BodyInflater::start(int windowBits)
{
    m_stream = std::make_unique<Stream>();
    m_stream->open = inflateInit2(&m_stream->z, windowBits) == Z_OK;
    return m_stream->open;
}

bool BodyInflater::inflate(QByteArrayView compressed, const Sink &sink)
{
    if (compressed.isEmpty() || m_ended)
        return true; // bytes after the stream's end are ignored, as browsers do
    z_stream &z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.data()));
    z.avail_in = uInt(compressed.size());
    QByteArray out(OutputChunkBytes, Qt::Uninitialized);
    // A full output buffer may leave output inside zlib: go on until it is
    // drained as well as the input.
    do {
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = uInt(out.size());
        const int result = ::inflate(&z, Z_NO_FLUSH);
        if (result == Z_DATA_ERROR && m_deflate && !m_started) {
            // "deflate" is meant with a zlib header, but some servers send
            // the raw stream.
            m_deflate = false;
            if (!start(RawDeflateBits)) {
                m_error = u"压缩数据有误"_s;
                return false;
            }
            return inflate(compressed, sink);
        }
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            m_error = u"压缩数据有误"_s;
            return false;
        }
        const qsizetype produced = out.size() - qsizetype(z.avail_out);
        if (produced > 0) {
            m_started = true;
            if (!sink(QByteArrayView(out.constData(), produced)))
                return false;
        }
        m_ended = result == Z_STREAM_END;
        if (result == Z_BUF_ERROR)
            break; // no progress without more input
    } while (!m_ended && (z.avail_in > 0 || z.avail_out == 0));
    return true;
}

} // namespace caiji
