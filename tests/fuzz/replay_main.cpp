// Runs the fuzz target over files and folders of inputs without libFuzzer, so that every build
// checks the seed corpus and the inputs that once broke the code under test.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

// Optional, as with libFuzzer: a target without set-up leaves it out.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char *argv[])
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QStringList files;
        if (!QFileInfo::exists(path))
            continue; // a target that never found a fault has no regressions folder
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
        } else {
            files << path;
        }
        for (const QString &file : files) {
            QFile input(file);
            if (!input.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qUtf8Printable(file));
                return 1;
            }
            const QByteArray bytes = input.readAll();
            // Named first, so that a fault points at its input.
            std::fprintf(stderr, "%s\n", qUtf8Printable(file));
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                   size_t(bytes.size()));
            ++inputs;
        }
    }
    std::printf("%d inputs ran without a fault\n", inputs);
    return inputs > 0 ? 0 : 1;
}
