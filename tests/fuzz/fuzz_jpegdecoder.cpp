// libFuzzer target: the segment judge and a libjpeg pass over any bytes, as the decoder runs them.
#include "jpegmarkers.h"
#include "jpegsession.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const qint64 header = JpegMarkers::scan(data, size, qint64(size));
    JpegSession session;
    // Bytes the judge refuses still go through libjpeg's header pass: its error exits are exercised too.
    session.data = data;
    session.size = header > 0 ? size_t(header) : size;
    if (!session.run() || header <= 0)
        return 0;
    const size_t bytes = size_t(session.width) * size_t(session.height) * size_t(session.components);
    if (bytes == 0 || bytes > (size_t(1) << 26))
        return 0;
    std::vector<uchar> samples(bytes);
    JpegSession decode;
    decode.data = data;
    decode.size = size;
    decode.samples = samples.data();
    decode.run();
    return 0;
}
