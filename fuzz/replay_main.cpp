// Runs a fuzz target without libFuzzer: every seed of its corpus, then a fixed, repeatable series
// of mutations of them that favour the protocol's and JSON's own bytes. The default test run uses
// it (plain and sanitized builds); a clang build with ZRDEVICE_FUZZ=ON fuzzes for real.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

struct Random {
    quint64 state = 0x9e3779b97f4a7c15ull;
    quint32 next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return quint32(state);
    }
    int below(int n) { return n > 0 ? int(next() % quint32(n)) : 0; }
};

QByteArray mutate(const QList<QByteArray>& seeds, Random& random)
{
    // The protocol's and JSON's own bytes.
    static const char tokens[]
        = { '\x02', '\x03', ';', ',', ':', '0', '9', '-', 'e', '.', '{', '}', '"', '\n' };
    QByteArray input = seeds.at(random.below(seeds.size()));
    const int steps = 1 + random.below(8);
    for (int i = 0; i < steps; ++i) {
        const int at = random.below(input.size() + 1);
        switch (random.below(6)) {
        case 0: // a protocol byte in
            input.insert(at, tokens[random.below(sizeof tokens)]);
            break;
        case 1: // a byte changed
            if (at < input.size())
                input[at] = char(random.next());
            break;
        case 2: // a stretch cut out
            input.remove(at, random.below(16));
            break;
        case 3: // another seed spliced in
            input.insert(at, seeds.at(random.below(seeds.size())));
            break;
        case 4: // a stretch repeated
            input.insert(at, input.mid(at, random.below(32)));
            break;
        default: // a long number
            input.insert(at, QByteArray(1 + random.below(40), '9'));
            break;
        }
    }
    return input;
}

void run(const QByteArray& input)
{
    LLVMFuzzerTestOneInput(
        reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [MUTATIONS]\n", argv[0]);
        return 2;
    }
    const QString corpus = QString::fromLocal8Bit(argv[1]);
    const int mutations = argc > 2 ? std::atoi(argv[2]) : 3000;
    LLVMFuzzerInitialize(&argc, &argv);

    QList<QByteArray> seeds;
    const QDir dir(corpus);
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            seeds.append(file.readAll());
    }
    if (seeds.isEmpty()) {
        std::fprintf(stderr, "no seeds in %s\n", argv[1]);
        return 2;
    }
    for (const QByteArray& seed : seeds)
        run(seed);
    Random random;
    for (int i = 0; i < mutations; ++i)
        run(mutate(seeds, random));
    std::printf("%d seeds, %d mutations: no fault\n", int(seeds.size()), mutations);
    return 0;
}
