#ifndef VELUMEN_EXTREMERUN_H
#define VELUMEN_EXTREMERUN_H

#include "jpegdecoder.h"
#include "samplefold.h"

#include <QImage>

#include <array>
#include <memory>

// Decoded frames of a Lighten or Darken run that share their table and their shape, folded byte by
// byte into one frame as they arrive. Under a table that never decreases, the table's value of the
// lightest byte is the lightest of the bytes' values (and so for the darkest), so the run then folds
// into the image as that one frame, exactly as its frames would one by one: a pass of byte
// comparisons per frame instead of a pass of table lookups, and each frame freed at once.
class ExtremeRun
{
public:
    using Table = std::array<quint16, 256>;

    // True when frames under this table and operation can make a run.
    static bool suits(const Table &table, SampleFold::Operation operation);
    bool empty() const { return m_count == 0; }
    // True when the run is empty or the frame can join it.
    bool accepts(const JpegDecoder::Header &header, const Table &table,
                 SampleFold::Operation operation) const;
    // Joins a frame the run accepts; false, with nothing changed, when no memory is to be had.
    bool take(const uchar *samples, const JpegDecoder::Header &header, const Table &table,
              SampleFold::Operation operation);
    // Starts the run with a frame whose memory it keeps; false, with nothing changed, unless empty.
    bool adopt(std::unique_ptr<uchar[]> &samples, size_t capacity, const JpegDecoder::Header &header,
               const Table &table, SampleFold::Operation operation);
    // The run as one frame, valid until the next take or clear.
    SampleFold::Frame frame() const;
    // The 8-bit copy, as Image32::narrowed8() gives it, of an image of this size and depth at its
    // method's starting value once the run alone has folded into it: under either method that is
    // each byte's table value, narrowed. The run's memory goes to the copy and the run is emptied.
    // Null, with nothing changed, for a run of another size or when no memory is to be had.
    QImage narrowed(qint32 width, qint32 height, int depth);
    // Empties the run; its memory serves the next unless freed.
    void clear(bool free);

private:
    void start(const JpegDecoder::Header &header, const Table &table, SampleFold::Operation operation);

    std::unique_ptr<uchar[]> m_samples;
    size_t m_capacity = 0;
    qint32 m_width = 0;
    qint32 m_height = 0;
    int m_components = 0;
    Table m_table{};
    SampleFold::Operation m_operation = SampleFold::Lighten;
    int m_count = 0;
};

#endif
