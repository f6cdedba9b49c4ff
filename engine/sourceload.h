#ifndef VELUMEN_SOURCELOAD_H
#define VELUMEN_SOURCELOAD_H

#include "samplefold.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class Image32;
class ToolInput;
class ToolRunner;

// One source load under way: identify sizes the file and the read tool is started, in a thread of
// the load's own, while the worker still combines earlier loads. The read tool's stream then waits
// in its pipe until the worker folds it into the accumulator. Failures wait too: they surface only
// when the load is folded, so that they are reported at their own operation.
class SourceLoad
{
public:
    // Starts at once. The load ends early when stop becomes true.
    SourceLoad(const QString &fileName, const QString &options, const std::atomic_bool *stop);
    // A load never folded is dropped: its tools are ended, nothing is reported.
    ~SourceLoad();
    SourceLoad(const SourceLoad &) = delete;
    SourceLoad &operator=(const SourceLoad &) = delete;

    // Asks the load to end without waiting for it; the destructor waits.
    void drop();
    // Waits for the load to be ready and folds its samples into the image as they arrive. Throws
    // Image32Exception(ReadFailed, file name) when the file cannot be read in full.
    void foldInto(Image32 &image, SampleFold::Operation operation);

private:
    void prepare();
    bool startRead();

    QString m_fileName;
    QString m_options;
    const std::atomic_bool *m_stop;
    std::atomic_bool m_drop{false};
    std::unique_ptr<ToolInput> m_input;
    std::unique_ptr<ToolRunner> m_runner;
    qint32 m_width = 0;
    qint32 m_height = 0;
    bool m_identified = false;
    std::thread m_thread;
};

#endif
