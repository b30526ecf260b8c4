#include "settings/ModelFileCheck.h"
#include "settings/BoundedVectorSerializer.h"
#include "settings/ModelTrialRead.h"
#include "settings/NativeReaderGuard.h"
#include "settings/PlyFileCheck.h"

#include <osg/Endian>
#include <osg/Image>
#include <osg/Notify>
#include <osgDB/Callbacks>
#include <osgDB/DataTypes>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/InputStream>
#include <osgDB/ReadFile>
#include <osgDB/Registry>
#include <osgDB/StreamOperator>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace Novaro
{

namespace
{

// Thrown by the bounded reader out of OpenSceneGraph's object readers, which go on reading after
// a failure.
class RefusedRead : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Nothing a checked file names is loaded while it is checked.
class LoadNothing : public osgDB::ReadFileCallback
{
public:
    osgDB::ReaderWriter::ReadResult readObject(const std::string&, const osgDB::Options*) override
    {
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED;
    }
    // An empty picture in its place: the library warns of every picture it finds no reader for.
    osgDB::ReaderWriter::ReadResult readImage(const std::string&, const osgDB::Options*) override
    {
        return new osg::Image;
    }
    osgDB::ReaderWriter::ReadResult readHeightField(const std::string&, const osgDB::Options*) override
    {
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED;
    }
    osgDB::ReaderWriter::ReadResult readNode(const std::string&, const osgDB::Options*) override
    {
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED;
    }
    osgDB::ReaderWriter::ReadResult readShader(const std::string&, const osgDB::Options*) override
    {
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED;
    }
    osgDB::ReaderWriter::ReadResult readScript(const std::string&, const osgDB::Options*) override
    {
        return osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED;
    }
};

// Reads the native binary format as OpenSceneGraph's binary reader does (same sizes, byte order
// and blocks), but never past the end of the data, never a string or array longer than what is
// left, never a counted block whose count exceeds the bytes after it, and never more reads than
// a bound proportional to the data. OpenSceneGraph may swap the stream for uncompressed data;
// the bounds follow the stream being read.
class BoundedBinaryIterator : public osgDB::InputIterator
{
public:
    BoundedBinaryIterator(std::istream* stream, int byteSwap)
    {
        _in = stream;
        setByteSwap(byteSwap);
    }

    bool isBinary() const override { return true; }

    void readBool(bool& b) override
    {
        char c = 0;
        readBytes(&c, 1, "a flag");
        b = c != 0;
    }
    void readChar(char& c) override { readBytes(&c, 1, "a character"); }
    void readSChar(signed char& c) override { readBytes(reinterpret_cast<char*>(&c), 1, "a character"); }
    void readUChar(unsigned char& c) override { readBytes(reinterpret_cast<char*>(&c), 1, "a character"); }
    void readShort(short& s) override { readNumber(s, osgDB::SHORT_SIZE); }
    void readUShort(unsigned short& s) override { readNumber(s, osgDB::SHORT_SIZE); }
    void readInt(int& i) override
    {
        readNumber(i, osgDB::INT_SIZE);
        noteCount(static_cast<uint32_t>(i));
    }
    void readUInt(unsigned int& i) override
    {
        const unsigned int elementBytes = BoundedVectorSerializer::takeAnnouncedElementBytes();
        readNumber(i, osgDB::INT_SIZE);
        noteCount(i);
        // A vector's count: the library reserves for it before reading an element.
        if (elementBytes > 0 && uint64_t(i) * elementBytes > remaining())
            refuse("a count of " + std::to_string(i) + " elements", uint64_t(i) * elementBytes);
    }
    // The file holds 32 bits for a long whatever the platform's long is.
    void readLong(long& l) override
    {
        int32_t value = 0;
        readNumber(value, osgDB::LONG_SIZE);
        l = value;
    }
    void readULong(unsigned long& l) override
    {
        uint32_t value = 0;
        readNumber(value, osgDB::LONG_SIZE);
        l = value;
    }
    void readFloat(float& f) override { readNumber(f, osgDB::FLOAT_SIZE); }
    void readDouble(double& d) override { readNumber(d, osgDB::DOUBLE_SIZE); }

    void readString(std::string& s) override
    {
        int32_t size = 0;
        readNumber(size, osgDB::INT_SIZE);
        if (size < 0)
            refuse("a text of negative length " + std::to_string(size));
        if (static_cast<uint64_t>(size) > remaining())
            refuse("a text of " + std::to_string(size) + " bytes", static_cast<uint64_t>(size));
        s.resize(static_cast<size_t>(size));
        if (size > 0)
            readBytes(&s[0], static_cast<uint64_t>(size), "a text");
    }
    void readStream(std::istream& (*)(std::istream&)) override { countRead(); }
    void readBase(std::ios_base& (*)(std::ios_base&)) override { countRead(); }

    void readGLenum(osgDB::ObjectGLenum& value) override
    {
        uint32_t e = 0;
        readNumber(e, osgDB::GLENUM_SIZE);
        value.set(e);
    }
    void readProperty(osgDB::ObjectProperty& property) override
    {
        int32_t value = 0;
        if (property._mapProperty)
            readNumber(value, osgDB::INT_SIZE);
        else
            countRead();
        property.set(value);
    }

    // A count is read right before the block it counts; OpenSceneGraph allocates for it as soon
    // as the block opens, so the count is checked here, against the bytes after it.
    void readMark(osgDB::ObjectMark& mark) override
    {
        const bool afterCount = _lastWasCount;
        const uint32_t count = _lastCount;
        if (mark._name == "{")
        {
            if (afterCount && count > remaining())
                refuse("a count of " + std::to_string(count), count);
            if (_supportBinaryBrackets)
                readBlockSize();
        }
        else if (mark._name == "}" && !_blockStarts.empty())
        {
            _blockStarts.pop_back();
            _blockSizes.pop_back();
        }
        countRead();
    }

    void readCharArray(char* s, unsigned int size) override { readBytes(s, size, "an array"); }
    void readWrappedString(std::string& text) override { readString(text); }

    void advanceToCurrentEndBracket() override
    {
        if (!_supportBinaryBrackets || _blockStarts.empty())
            return;
        countRead();
        _in->seekg(_blockStarts.back() + static_cast<std::streamoff>(_blockSizes.back()));
        _blockStarts.pop_back();
        _blockSizes.pop_back();
    }

private:
    // Where the stream stands and how many bytes are left in it.
    uint64_t position()
    {
        const std::streamoff at = _in->tellg();
        return at < 0 ? 0 : static_cast<uint64_t>(at);
    }
    uint64_t remaining()
    {
        if (_in != _measured)
        {
            const std::streampos at = _in->tellg();
            _in->seekg(0, std::ios::end);
            const std::streamoff end = _in->tellg();
            _in->seekg(at);
            _end = end < 0 ? 0 : static_cast<uint64_t>(end);
            _measured = _in;
            // The bound on reads grows with the largest data seen.
            _readBound = std::max(_readBound, 16 * _end + 4096);
        }
        const uint64_t at = position();
        return at < _end ? _end - at : 0;
    }

    [[noreturn]] void refuse(const std::string& what, uint64_t wanted = 0)
    {
        std::string reason = what + " at byte " + std::to_string(position());
        if (wanted > 0)
            reason += ", but only " + std::to_string(remaining()) + " bytes follow";
        throw RefusedRead(reason);
    }

    void countRead()
    {
        _lastWasCount = false;
        // An announced count is the first read after the announcement, or none.
        BoundedVectorSerializer::takeAnnouncedElementBytes();
        remaining();
        if (++_reads > _readBound)
            throw RefusedRead("it asks for more reads than its " + std::to_string(_end) + " bytes hold");
    }

    void readBytes(char* target, uint64_t size, const char* what)
    {
        countRead();
        if (size > remaining())
            refuse(std::string(what) + " of " + std::to_string(size) + " bytes", size);
        if (size > 0 && !_in->read(target, static_cast<std::streamsize>(size)))
            refuse(std::string("an unreadable stretch of ") + std::to_string(size) + " bytes");
    }

    template <typename T> void readNumber(T& value, int size)
    {
        readBytes(reinterpret_cast<char*>(&value), static_cast<uint64_t>(size), "a number");
        if (_byteSwap)
            osg::swapBytes(reinterpret_cast<char*>(&value), static_cast<unsigned int>(size));
    }

    void noteCount(uint32_t value)
    {
        _lastWasCount = true;
        _lastCount = value;
    }

    // The block's size counts from the size field itself to the end of the block. Files newer
    // than version 148 write it in 64 bits.
    void readBlockSize()
    {
        const uint64_t available = remaining();
        _blockStarts.push_back(_in->tellg());
        uint64_t size = 0;
        if (getInputStream() != nullptr && getInputStream()->getFileVersion() > 148)
        {
            readNumber(size, osgDB::INT64_SIZE);
        }
        else
        {
            int32_t size32 = 0;
            readNumber(size32, osgDB::INT_SIZE);
            size = static_cast<uint64_t>(static_cast<int64_t>(size32));
        }
        if (size > available)
            refuse("a block of " + std::to_string(size) + " bytes", size);
        _blockSizes.push_back(size);
    }

    std::istream* _measured = nullptr;
    uint64_t _end = 0;
    uint64_t _reads = 0;
    uint64_t _readBound = 4096;
    bool _lastWasCount = false;
    uint32_t _lastCount = 0;
    std::vector<std::streampos> _blockStarts;
    std::vector<uint64_t> _blockSizes;
};

// The kind of file the header says (a scene, an image, another object), read here as the library
// hands back whatever number the file holds as its enumeration. Shorter data is a scene to the
// bounded reader, which refuses it.
uint32_t kindOf(const std::string& data, int byteSwap)
{
    uint32_t kind = osgDB::InputStream::READ_SCENE;
    if (data.size() >= 12)
    {
        std::memcpy(&kind, data.data() + 8, 4);
        if (byteSwap)
            osg::swapBytes(reinterpret_cast<char*>(&kind), 4);
    }
    return kind;
}

std::string checkNativeBinary(const std::string& data)
{
    uint32_t low = 0;
    uint32_t high = 0;
    std::memcpy(&low, data.data(), 4);
    std::memcpy(&high, data.data() + 4, 4);
    int byteSwap = 0;
    if (low != OSG_HEADER_LOW || high != OSG_HEADER_HIGH)
    {
        osg::swapBytes(reinterpret_cast<char*>(&low), 4);
        osg::swapBytes(reinterpret_cast<char*>(&high), 4);
        byteSwap = 1;
    }
    const uint32_t kind = kindOf(data, byteSwap);
    const bool known = kind == osgDB::InputStream::READ_SCENE || kind == osgDB::InputStream::READ_IMAGE ||
                       kind == osgDB::InputStream::READ_OBJECT;
    std::istringstream stream(data);
    stream.seekg(8);
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options;
    options->setReadFileCallback(new LoadNothing);
    osgDB::InputStream input(options.get());
    try
    {
        // The reader reads the whole header (with a count of domains) whatever the kind, and stops
        // there at a kind it does not know; else it reads the compressor's name, and then the
        // object unless it is an image (refused as a model without reading further).
        input.start(new BoundedBinaryIterator(&stream, byteSwap));
        if (!known)
            return input.getException() != nullptr ? input.getException()->getError() : std::string();
        input.decompress();
        if (input.getException() == nullptr && kind != osgDB::InputStream::READ_IMAGE)
            input.readObject();
    }
    catch (const RefusedRead& refused)
    {
        return refused.what();
    }
    catch (const std::bad_alloc&)
    {
        return "it declares more data than memory holds";
    }
    catch (const std::exception& failure)
    {
        return failure.what();
    }
    if (input.getException() != nullptr)
        return input.getException()->getError();
    return std::string();
}

bool isWholeNumber(const std::string& token)
{
    size_t start = token[0] == '-' || token[0] == '+' ? 1 : 0;
    if (start == token.size())
        return false;
    for (size_t i = start; i < token.size(); ++i)
        if (token[i] < '0' || token[i] > '9')
            return false;
    return true;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Every "{" after a number: the number counts what the block holds, each at least a byte. The one
// number written before a block that is no count is the time of an animation path's control
// point ("Time 12 {").
std::string checkTextCounts(const std::string& data)
{
    std::string beforePrevious;
    std::string previous;
    size_t line = 1;
    size_t at = 0;
    while (at < data.size())
    {
        if (isSpace(data[at]))
        {
            line += data[at] == '\n' ? 1 : 0;
            ++at;
            continue;
        }
        if (data[at] == '"')
        {
            for (++at; at < data.size() && data[at] != '"'; ++at)
            {
                line += data[at] == '\n' ? 1 : 0;
                at += data[at] == '\\' ? 1 : 0;
            }
            ++at;
            beforePrevious = previous;
            previous.clear();
            continue;
        }
        const size_t start = at;
        while (at < data.size() && !isSpace(data[at]))
            ++at;
        const std::string token = data.substr(start, at - start);
        if (token == "{" && !previous.empty() && isWholeNumber(previous) && beforePrevious != "Time")
        {
            const std::string where = " before the block at line " + std::to_string(line);
            if (previous[0] == '-')
                return "a negative count (" + previous + ")" + where;
            const std::string digits = previous.substr(previous[0] == '+' ? 1 : 0);
            const uint64_t left = data.size() - at;
            const size_t significant = digits.find_first_not_of('0');
            if (significant != std::string::npos &&
                (digits.size() - significant > 19 || std::stoull(digits) > left))
                return "a count of " + previous + where + ", but only " + std::to_string(left) +
                       " bytes follow";
        }
        beforePrevious = previous;
        previous = token;
    }
    return std::string();
}

bool readWholeFile(const std::string& path, std::string& data)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

bool hasNativeBinaryHeader(const std::string& data)
{
    if (data.size() < 8)
        return false;
    uint32_t low = 0;
    std::memcpy(&low, data.data(), 4);
    uint32_t swapped = low;
    osg::swapBytes(reinterpret_cast<char*>(&swapped), 4);
    return low == OSG_HEADER_LOW || swapped == OSG_HEADER_LOW;
}

// The checks of the formats that have one, on the file's data.
std::string checkModelData(const std::string& found, const std::string& extension)
{
    std::string data;
    // A file that cannot be read is the reader's to report.
    if (!readWholeFile(found, data))
        return std::string();
    if (extension == "ply")
        return checkPlyData(data);
    guardNativeReaders();
    // The native reader goes by the header, not by the name.
    if (extension != "osg" && hasNativeBinaryHeader(data))
        return checkNativeBinary(data);
    return checkTextCounts(data);
}

} // namespace

std::string checkModelFile(const std::string& path)
{
    const std::string extension = osgDB::getLowerCaseFileExtension(path);
    const std::string found = osgDB::findDataFile(path, osgDB::Registry::instance()->getOptions());
    // A file that cannot be found is the reader's to report.
    if (found.empty())
        return std::string();
    const bool checked =
        extension == "osgb" || extension == "osgt" || extension == "osg" || extension == "ply";
    const std::string reason = checked ? checkModelData(found, extension) : std::string();
    if (reason.empty() && needsTrialRead(extension))
        return trialReadModelFile(found);
    return reason;
}

namespace
{

// The file readModelNode reads on this thread, its check passed; null when none.
thread_local const std::string* checkedFile = nullptr;

} // namespace

bool isReadAfterItsCheck(const std::string& name)
{
    return checkedFile != nullptr && *checkedFile == name;
}

std::string readFailureOf(osgDB::ReaderWriter::ReadResult read)
{
    if (!read.message().empty())
        return read.message();
    switch (read.status())
    {
    case osgDB::ReaderWriter::ReadResult::FILE_NOT_HANDLED:
        return "no reader for its format takes it";
    case osgDB::ReaderWriter::ReadResult::FILE_NOT_FOUND:
        return "not found";
    case osgDB::ReaderWriter::ReadResult::ERROR_IN_READING_FILE:
        return "its reader refused it";
    default:
        return "its reader found nothing to show in it";
    }
}

osg::ref_ptr<osg::Node> readModelNode(const std::string& path, std::string& failure)
{
    guardNativeReaders();
    checkedFile = &path;
    osgDB::ReaderWriter::ReadResult read =
        osgDB::Registry::instance()->readNode(path, osgDB::Registry::instance()->getOptions());
    checkedFile = nullptr;
    if (read.validNode())
        return read.getNode();
    failure = readFailureOf(read);
    return nullptr;
}

bool readsOnTrial(const std::string& path)
{
    return !isTrialReader() && needsTrialRead(osgDB::getLowerCaseFileExtension(path)) &&
           !osgDB::findDataFile(path, osgDB::Registry::instance()->getOptions()).empty();
}

namespace
{

// The graph a trial reader handed back, read as the model at 'found': what the model names (a
// proxy's file) is looked for beside it.
osg::ref_ptr<osg::Node> readHandedBack(const std::string& graph, const std::string& found,
                                       std::string& failure)
{
    osgDB::ReaderWriter* native = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
    if (native == nullptr)
    {
        failure = "the native format's reader is not installed";
        return nullptr;
    }
    const osgDB::Options* shared = osgDB::Registry::instance()->getOptions();
    osg::ref_ptr<osgDB::Options> options = shared ? shared->cloneOptions() : new osgDB::Options;
    options->getDatabasePathList().push_front(osgDB::getFilePath(found));
    std::istringstream stream(graph);
    osgDB::ReaderWriter::ReadResult read = native->readNode(stream, options.get());
    if (read.validNode())
        return read.getNode();
    failure = readFailureOf(read);
    return nullptr;
}

} // namespace

std::string readModelOnTrial(const std::string& path, osg::ref_ptr<osg::Node>& model, std::string& failure)
{
    const std::string found = osgDB::findDataFile(path, osgDB::Registry::instance()->getOptions());
    const std::string extension = osgDB::getLowerCaseFileExtension(found);
    std::string reason = extension == "osg" ? checkModelData(found, extension) : std::string();
    if (!reason.empty())
        return reason;
    TrialReadOutcome outcome = trialReadModel(found);
    if (!outcome.unsafe.empty() || outcome.graph.empty())
    {
        failure = outcome.failure;
        return outcome.unsafe;
    }
    // Whatever ran in the trial reader may have been the file's: its graph is checked as a file is.
    guardNativeReaders();
    reason = hasNativeBinaryHeader(outcome.graph) ? checkNativeBinary(outcome.graph) : "no native graph";
    if (!reason.empty())
        return "what its reader made of it does not read back: " + reason;
    model = readHandedBack(outcome.graph, found, failure);
    return std::string();
}

std::string checkAndReadModel(const std::string& path, osg::ref_ptr<osg::Node>& model, std::string& failure)
{
    if (readsOnTrial(path))
        return readModelOnTrial(path, model, failure);
    const std::string reason = checkModelFile(path);
    if (reason.empty())
        model = readModelNode(path, failure);
    return reason;
}

osg::ref_ptr<osg::Node> readModelFile(const std::string& path)
{
    osg::ref_ptr<osg::Node> model;
    std::string failure;
    const std::string reason = checkAndReadModel(path, model, failure);
    if (!reason.empty())
        osg::notify(osg::FATAL) << " ERROR: refusing model file " << path << ": " << reason << "."
                                << std::endl;
    else if (!model.valid())
        osg::notify(osg::FATAL) << " ERROR: cannot read model file " << path << ": " << failure << "."
                                << std::endl;
    return model;
}

} // namespace Novaro
