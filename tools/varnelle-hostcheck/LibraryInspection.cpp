#include "LibraryInspection.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fstream>
#include <link.h>
#include <string>
#include <string_view>
#include <sys/utsname.h>

namespace varnelle::hostcheck
{
namespace
{
std::string canonicalPath (const juce::File& file)
{
    char resolved[PATH_MAX];
    if (::realpath (file.getFullPathName().toRawUTF8(), resolved) != nullptr)
        return resolved;
    return file.getFullPathName().toStdString();
}
} // namespace

juce::File findBundleLibrary (const juce::File& bundle, bool isVst3)
{
    if (isVst3)
    {
        utsname machine{};
        ::uname (&machine);
        return bundle.getChildFile ("Contents")
            .getChildFile (juce::String (machine.machine) + "-linux")
            .getChildFile (bundle.getFileNameWithoutExtension() + ".so");
    }

    const auto libraries = bundle.findChildFiles (juce::File::findFiles, false, "*.so");
    return libraries.isEmpty() ? bundle.getChildFile ("missing.so") : libraries.getFirst();
}

namespace
{
/** Calls `visit (path)` for every file-backed line of /proc/self/maps. */
template <typename Visitor>
void forEachMappedFile (Visitor&& visit)
{
    std::ifstream maps ("/proc/self/maps");
    std::string line;

    while (std::getline (maps, line))
    {
        // The path is the last field and starts with '/'; it may be followed by " (deleted)".
        const auto slash = line.find ('/');
        if (slash == std::string::npos)
            continue;

        auto path = line.substr (slash);
        if (const auto deleted = path.rfind (" (deleted)"); deleted != std::string::npos)
            path.resize (deleted);

        visit (path);
    }
}
} // namespace

bool isLibraryMapped (const juce::File& library)
{
    const auto wanted = canonicalPath (library);
    bool mapped = false;
    forEachMappedFile ([&] (const std::string& path) { mapped = mapped || path == wanted; });
    return mapped;
}

juce::StringArray findMappedFilesNamed (const juce::String& fileName)
{
    juce::StringArray paths;
    forEachMappedFile (
        [&] (const std::string& path)
        {
            const auto candidate = juce::String::fromUTF8 (path.c_str());
            if (candidate.fromLastOccurrenceOf ("/", false, false) == fileName)
                paths.addIfNotAlreadyThere (candidate);
        });
    return paths;
}

juce::String getCanonicalPath (const juce::File& file)
{
    return juce::String::fromUTF8 (canonicalPath (file).c_str());
}

int countThreads()
{
    return juce::File ("/proc/self/task").getNumberOfChildFiles (juce::File::findDirectories);
}

namespace
{
/** Calls `visit (symbol, name)` for every symbol of the file's tables of type `tableType`
    (SHT_DYNSYM or SHT_SYMTAB). False if the file is no readable 64-bit ELF. */
template <typename Visitor>
bool forEachElfSymbol (const juce::File& file, Elf64_Word tableType, Visitor&& visit)
{
    juce::MemoryBlock data;
    if (!file.loadFileAsData (data) || data.getSize() < sizeof (Elf64_Ehdr))
        return false;

    const auto* bytes = static_cast<const char*> (data.getData());
    const auto size = data.getSize();

    Elf64_Ehdr header;
    std::memcpy (&header, bytes, sizeof (header));

    if (std::memcmp (header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_shentsize != sizeof (Elf64_Shdr))
        return false;

    if (header.e_shoff == 0 || header.e_shoff + (Elf64_Off)header.e_shnum * sizeof (Elf64_Shdr) > size)
        return false;

    auto sectionAt = [&] (size_t index)
    {
        Elf64_Shdr section;
        std::memcpy (&section, bytes + header.e_shoff + index * sizeof (Elf64_Shdr), sizeof (section));
        return section;
    };

    for (size_t i = 0; i < header.e_shnum; ++i)
    {
        const auto table = sectionAt (i);

        if (table.sh_type != tableType || table.sh_entsize != sizeof (Elf64_Sym) ||
            table.sh_link >= header.e_shnum)
            continue;

        const auto strings = sectionAt (table.sh_link);

        if (table.sh_offset + table.sh_size > size || strings.sh_offset + strings.sh_size > size)
            return false;

        for (Elf64_Xword offset = 0; offset + sizeof (Elf64_Sym) <= table.sh_size;
             offset += sizeof (Elf64_Sym))
        {
            Elf64_Sym symbol;
            std::memcpy (&symbol, bytes + table.sh_offset + offset, sizeof (symbol));

            const std::string_view name =
                symbol.st_name < strings.sh_size
                    ? std::string_view (bytes + strings.sh_offset + symbol.st_name,
                                        ::strnlen (bytes + strings.sh_offset + symbol.st_name,
                                                   strings.sh_size - symbol.st_name))
                    : std::string_view();

            visit (symbol, name);
        }
    }

    return true;
}

std::uintptr_t findLoadBias (const juce::File& library)
{
    struct Search
    {
        std::string wanted;
        std::uintptr_t bias = 0;
        bool found = false;
    } search{canonicalPath (library)};

    ::dl_iterate_phdr (
        [] (dl_phdr_info* info, size_t, void* context)
        {
            auto& s = *static_cast<Search*> (context);
            char resolved[PATH_MAX];
            if (info->dlpi_name != nullptr && *info->dlpi_name != 0 &&
                ::realpath (info->dlpi_name, resolved) != nullptr && s.wanted == resolved)
            {
                s.bias = (std::uintptr_t)info->dlpi_addr;
                s.found = true;
                return 1;
            }
            return 0;
        },
        &search);

    return search.found ? search.bias : 0;
}
} // namespace

int countGnuUniqueSymbols (const juce::File& library)
{
    int unique = 0;
    const bool readable = forEachElfSymbol (library, SHT_DYNSYM,
                                            [&] (const Elf64_Sym& symbol, std::string_view)
                                            {
                                                if (ELF64_ST_BIND (symbol.st_info) == STB_GNU_UNIQUE &&
                                                    symbol.st_shndx != SHN_UNDEF)
                                                    ++unique;
                                            });

    return readable ? unique : -1;
}

AddressRange findMappedRange (const juce::File& library)
{
    const auto wanted = canonicalPath (library);
    std::ifstream maps ("/proc/self/maps");
    std::string line;
    AddressRange range;
    bool found = false;

    while (std::getline (maps, line))
    {
        const auto slash = line.find ('/');
        if (slash == std::string::npos || line.substr (slash) != wanted)
            continue;

        const auto begin = (std::uintptr_t)std::stoull (line.substr (0, line.find ('-')), nullptr, 16);
        const auto end = (std::uintptr_t)std::stoull (line.substr (line.find ('-') + 1), nullptr, 16);

        range = found ? AddressRange{std::min (range.begin, begin), std::max (range.end, end)}
                      : AddressRange{begin, end};
        found = true;
    }

    return range;
}

AddressRange findMappedFunction (const juce::File& library, const char* mangledName)
{
    const auto bias = findLoadBias (library);
    if (bias == 0)
        return {};

    AddressRange range;
    forEachElfSymbol (library, SHT_SYMTAB,
                      [&] (const Elf64_Sym& symbol, std::string_view name)
                      {
                          if (range.isEmpty() && ELF64_ST_TYPE (symbol.st_info) == STT_FUNC &&
                              symbol.st_size > 0 && name == mangledName)
                              range = {bias + (std::uintptr_t)symbol.st_value,
                                       bias + (std::uintptr_t) (symbol.st_value + symbol.st_size)};
                      });

    return range;
}

bool fileContainsCString (const juce::File& file, const juce::String& text)
{
    juce::MemoryBlock data;
    if (text.isEmpty() || !file.loadFileAsData (data))
        return false;

    const std::string needle (text.toRawUTF8(), text.getNumBytesAsUTF8() + 1); // with its NUL
    const std::string_view haystack (static_cast<const char*> (data.getData()), data.getSize());
    return haystack.find (needle) != std::string_view::npos;
}

} // namespace varnelle::hostcheck
