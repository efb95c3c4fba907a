// The renderer's command line reads outside text: every malformed argument is refused with a sentence,
// and every well-formed one lands in the right field.
#include "RenderTestSupport.h"

#include "render/RenderCommandLine.h"
#include "render/RenderJobs.h"
#include "presets/FactoryPresets.h"
#include "projects/CreatorProjectFile.h"
#include "render/RenderSound.h"
#include "workflow/TresselDna.h"

#include <sys/stat.h>

namespace
{
using namespace sorvane::render;
using sorvane::test::RenderFolder;

juce::StringArray split(const std::vector<std::string>& words)
{
    juce::StringArray out;
    for (const auto& w : words)
        out.add(juce::String::fromUTF8(w.data(), (int)w.size()));
    return out;
}

struct Refusal
{
    std::vector<std::string> arguments;
    const char* expectedWords;
};

TEST(RenderCommandLine, MalformedArgumentsAreRefusedWithASentence)
{
    const std::vector<Refusal> cases = {
        {{}, "Give an input and an output"},
        {{"in.wav"}, "has no output"},
        {{"a.wav", "b.wav", "c.wav"}, "'c.wav' has no output"},
        {{"in.wav", "out.wav", "--bogus"}, "Unknown option '--bogus'"},
        {{"in.wav", "out.wav", "-x"}, "Unknown option '-x'"},
        {{"in.wav", "out.wav", "--preset"}, "--preset needs a value"},
        {{"in.wav", "out.wav", "--preset="}, "--preset needs a value"},
        {{"in.wav", "out.wav", "--preset", "1", "--dna", "SV1:x"}, "only one of"},
        {{"in.wav", "out.wav", "--project", "a", "--user-preset", "b"}, "only one of"},
        {{"in.wav", "out.wav", "--tempo", "29.9"}, "--tempo takes a number from 30 to 300"},
        {{"in.wav", "out.wav", "--tempo", "300.01"}, "--tempo takes a number"},
        {{"in.wav", "out.wav", "--tempo", "nan"}, "--tempo takes a number"},
        {{"in.wav", "out.wav", "--tempo", "inf"}, "--tempo takes a number"},
        {{"in.wav", "out.wav", "--tempo", "0x40"}, "--tempo takes a number"},
        {{"in.wav", "out.wav", "--tempo", " 120"}, "--tempo takes a number"},
        {{"in.wav", "out.wav", "--tempo", "120", "--tempo", "121"}, "--tempo is given twice"},
        {{"in.wav", "out.wav", "--tail", "-1"}, "--tail takes a number from 0 to 3600"},
        {{"in.wav", "out.wav", "--tail", "1e9"}, "--tail takes a number"},
        {{"in.wav", "out.wav", "--rate", "44100.5"}, "--rate takes a whole number from 8000 to 768000"},
        {{"in.wav", "out.wav", "--rate", "7999"}, "--rate takes a whole number"},
        {{"in.wav", "out.wav", "--rate", "99999999999999999999"}, "--rate takes a whole number"},
        {{"in.wav", "out.wav", "--block", "0"}, "--block takes a whole number from 1 to 65536"},
        {{"in.wav", "out.wav", "--block", "-5"}, "--block takes a whole number"},
        {{"in.wav", "out.wav", "--block", "65537"}, "--block takes a whole number"},
        {{"in.wav", "out.wav", "--block"}, "--block needs a value"},
        {{"in.wav", "out.wav", "--jobs", "0"}, "--jobs takes a whole number from 1 to 64"},
        {{"in.wav", "out.wav", "--format", "mp3"}, "--format takes wav24, wav32f or flac"},
        {{"in.wav", "out.wav", "--format", "WAV24"}, "--format takes wav24"},
        {{"in.wav", "out.wav", "--format", "flac", "--format", "flac"}, "--format is given twice"},
        {{"in.wav", "out.wav", "--set", "drive"}, "--set takes ID=VALUE"},
        {{"in.wav", "out.wav", "--set", "=4"}, "--set takes ID=VALUE"},
        {{"in.wav", "out.wav", "--set", "drive="}, "--set takes ID=VALUE"},
        {{"in.wav", "out.wav", "--set", "volume=4"}, "There is no parameter 'volume'"},
        {{"in.wav", "out.wav", "--set", "drive=4", "--set", "drive=5"}, "'drive' is set twice"},
        {{"in.wav", "out.wav", "--json=yes"}, "--json takes no value"},
        {{"in", "out", "--keep-extension=yes"}, "--keep-extension takes no value"},
        {{"in.wav", ""}, "An empty file name"},
        {{"in.wav", "out.wav", std::string("--pre\x01set", 9)}, "'--pre\\x01set'"},
    };

    for (const auto& c : cases)
    {
        RenderCommand command;
        juce::String error;
        const auto args = split(c.arguments);
        EXPECT_FALSE(parseRenderCommandLine(args, command, error)) << args.joinIntoString(" ");
        EXPECT_TRUE(error.contains(c.expectedWords)) << args.joinIntoString(" ") << " -> " << error;
        EXPECT_FALSE(error.containsAnyOf("\r\n")) << error;
    }
}

TEST(RenderCommandLine, WellFormedArgumentsFillTheCommand)
{
    RenderCommand command;
    juce::String error;
    ASSERT_TRUE(
        parseRenderCommandLine(split({"a.wav",    "--tempo=133.5", "a-out.flac", "--rate",
                                      "96000",    "--block=64",    "--tail",     "2.5",
                                      "--format", "wav32f",        "--jobs",     "3",
                                      "-q",       "--json",        "--set",      "delaySync=1/8 dotted",
                                      "--set",    "drive=40",      "--dna",      "@sound.txt",
                                      "--",       "--odd.wav",     "-"}),
                               command, error))
        << error;
    EXPECT_EQ(command.paths, split({"a.wav", "a-out.flac", "--odd.wav", "-"}));
    EXPECT_EQ(command.tempo, 133.5);
    EXPECT_EQ(command.sampleRate, 96000);
    EXPECT_EQ(command.blockSize, 64);
    EXPECT_EQ(command.tailSeconds, 2.5);
    EXPECT_EQ(command.jobs, 3);
    EXPECT_EQ(command.format, OutputFormat::wav32f);
    EXPECT_TRUE(command.quiet);
    EXPECT_TRUE(command.json);
    EXPECT_EQ(command.source, SoundSource::dna);
    EXPECT_EQ(command.sourceArgument, "@sound.txt");
    ASSERT_EQ(command.settings.size(), 2u);
    EXPECT_EQ(command.settings[0].id, "delaySync");
    EXPECT_EQ(command.settings[0].value, "1/8 dotted");
    EXPECT_EQ(command.settings[1].id, "drive");

    ASSERT_TRUE(parseRenderCommandLine(split({"in.wav", "out.wav"}), command, error)) << error;
    EXPECT_EQ(command.blockSize, 512);
    EXPECT_EQ(command.format, OutputFormat::fromExtension);
    EXPECT_EQ(command.source, SoundSource::defaults);
    EXPECT_EQ(command.tempo, 0.0);
    EXPECT_FALSE(command.keepExtension);

    ASSERT_TRUE(parseRenderCommandLine(split({"in", "--keep-extension", "out"}), command, error)) << error;
    EXPECT_TRUE(command.keepExtension);
    EXPECT_EQ(command.paths, split({"in", "out"}));
    // After "--" it is a file name like any other.
    ASSERT_TRUE(parseRenderCommandLine(split({"in", "--", "--keep-extension"}), command, error)) << error;
    EXPECT_FALSE(command.keepExtension);
    EXPECT_EQ(command.paths, split({"in", "--keep-extension"}));

    ASSERT_TRUE(parseRenderCommandLine(split({"--version", "--help"}), command, error));
    EXPECT_EQ(command.action, RenderCommand::Action::help);
    ASSERT_TRUE(parseRenderCommandLine(split({"--list-presets"}), command, error));
    EXPECT_EQ(command.action, RenderCommand::Action::listPresets);
}

TEST(RenderCommandLine, ArgumentBytesBecomeTextWithInvalidSequencesReplaced)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain.wav", "plain.wav"},
        {"caf\xC3\xA9.wav", "caf\xC3\xA9.wav"},
        {"\xF0\x9F\x8E\xB5", "\xF0\x9F\x8E\xB5"},
        {"bad\xFF", "bad\xEF\xBF\xBD"},
        {"cut\xE2\x82", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xED\xA0\x80x", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx"},
    };
    for (const auto& [bytes, expected] : cases)
    {
        EXPECT_EQ(argumentText(bytes.data(), bytes.size()).toStdString(), expected) << bytes;
        // Exactly the arguments whose text changed are refused, with each bad byte shown.
        EXPECT_EQ(isUtf8Argument(bytes.data(), bytes.size()), bytes == expected) << bytes;
    }
    EXPECT_EQ(escapedArgument("caf\xE9.wav", 8), "caf\\xE9.wav");
    EXPECT_EQ(escapedArgument("\xC3\xA9\xFF", 3), juce::String::fromUTF8("\xC3\xA9") + "\\xFF");
}

TEST(RenderCommandLine, DecimalsAreOnlyPlainDecimals)
{
    const std::vector<std::pair<const char*, double>> good = {
        {"120", 120.0}, {"-3.5", -3.5},  {"+2", 2.0},     {".5", 0.5},
        {"5.", 5.0},    {"1e3", 1000.0}, {"2.5E-1", 0.25}};
    for (const auto& [text, expected] : good)
    {
        double value = -1.0;
        EXPECT_TRUE(parseDecimal(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
    for (const char* text : {"", "-", ".", "e5", "1e", "1e+", "1.2.3", "0x10", "inf", "nan", "1,5", " 1",
                             "1 ", "1e999", "2e4061011111111111", "١٢"})
    {
        double value = 42.0;
        EXPECT_FALSE(parseDecimal(juce::String::fromUTF8(text), value)) << text;
        EXPECT_EQ(value, 42.0) << text;
    }
}

TEST(RenderSound, FactoryPresetsAreFoundByNameInAnyCaseOrByNumber)
{
    const auto& name = sorvane::factoryPresets()[5].name;
    EXPECT_EQ(findFactoryPreset(name), 5);
    EXPECT_EQ(findFactoryPreset(name.toUpperCase()), 5);
    EXPECT_EQ(findFactoryPreset("0"), 0);
    EXPECT_EQ(findFactoryPreset(juce::String(sorvane::numFactoryPrograms - 1)),
              sorvane::numFactoryPrograms - 1);
    EXPECT_EQ(findFactoryPreset(juce::String(sorvane::numFactoryPrograms)), -1);
    EXPECT_EQ(findFactoryPreset("-1"), -1);
    EXPECT_EQ(findFactoryPreset("No Such Sound"), -1);
    EXPECT_EQ(findFactoryPreset(""), -1);
}

TEST(RenderSound, ParameterTextIsCheckedAgainstEachParametersOwnRange)
{
    auto processor = sorvane::test::makeProcessor();
    struct Case
    {
        const char* id;
        const char* text;
        bool accepted;
        float expectedPlain;
    };
    const std::vector<Case> cases = {
        {"drive", "40", true, 40.0f},
        {"drive", "100", true, 100.0f},
        {"drive", "100.5", false, 0},
        {"drive", "-1", false, 0},
        {"drive", "lots", false, 0},
        {"input", "-18", true, -18.0f},
        {"input", "18.01", false, 0},
        {"reduce", "4", true, 4.0f},
        {"reduce", "4.5", false, 0},
        {"reduce", "33", false, 0},
        {"division", "1/32", true, 3.0f},
        {"division", "2", true, 2.0f},
        {"division", "6", false, 0},
        {"division", "1/3", false, 0},
        {"delaySync", "1/8 DOTTED", true, 10.0f},
        {"audioQuality", "eco", true, 0.0f},
        {"audioQuality", "1.5", false, 0},
        {"matchSourceLevel", "off", true, 0.0f},
        {"matchSourceLevel", "On", true, 1.0f},
        {"matchSourceLevel", "2", false, 0},
        {"tone", "9000", true, 9000.0f},
    };
    for (const auto& c : cases)
    {
        auto& parameter = sorvane::test::parameter(*processor, c.id);
        const float before = parameter.getValue();
        juce::String error;
        EXPECT_EQ(applyParameterText(parameter, c.text, error), c.accepted) << c.id << "=" << c.text;
        if (c.accepted)
            EXPECT_FLOAT_EQ(sorvane::test::plain(*processor, c.id), c.expectedPlain) << c.id << "=" << c.text;
        else
        {
            EXPECT_EQ(parameter.getValue(), before) << c.id << "=" << c.text;
            EXPECT_TRUE(error.startsWith(juce::String("--set ") + c.id)) << error;
        }
    }
}

TEST(RenderSound, UnusableSoundsAreRefusedNamingTheFile)
{
    RenderFolder folder;
    const auto text = folder.dir.getChildFile("dna.txt");
    const auto binary = folder.dir.getChildFile("binary.txt");
    const auto big = folder.dir.getChildFile("big.txt");
    const auto empty = folder.dir.getChildFile("empty.txt");
    const auto notPreset = folder.dir.getChildFile("other.sorvane");
    text.replaceWithText("SV1:not-really-dna");
    const char invalid[] = {'S', 'V', '1', ':', (char)0xC0, (char)0x80};
    binary.replaceWithData(invalid, sizeof(invalid));
    big.replaceWithText(juce::String::repeatedString("A", sorvane::maxTresselDnaLength + 5000));
    empty.replaceWithText("  \n");
    notPreset.replaceWithText("<OTHER_PRODUCT/>");

    struct Case
    {
        SoundSource source;
        juce::String argument;
        juce::String expected;
    };
    const std::vector<Case> cases = {
        {SoundSource::factoryPreset, "Nothing Like It", "no factory preset 'Nothing Like It'"},
        {SoundSource::factoryPreset, "99", "no factory preset '99'"},
        {SoundSource::dna, "SV1:%%%%", "The DNA text is not valid"},
        {SoundSource::dna, "hello", "The DNA text is not valid"},
        {SoundSource::dna, "@" + text.getFullPathName(), text.getFullPathName() + ": "},
        {SoundSource::dna, "@" + binary.getFullPathName(), binary.getFullPathName() + ": not a text file"},
        {SoundSource::dna, "@" + big.getFullPathName(), big.getFullPathName() + ": too large"},
        {SoundSource::dna, "@" + empty.getFullPathName(), empty.getFullPathName() + ": the file is empty"},
        {SoundSource::dna, "@" + folder.dir.getChildFile("none.txt").getFullPathName(), "none.txt: "},
        {SoundSource::dna, "@" + folder.dir.getFullPathName(), folder.dir.getFullPathName() + ": "},
        {SoundSource::userPreset, folder.dir.getChildFile("none.sorvane").getFullPathName(),
         "none.sorvane: no such preset"},
        {SoundSource::userPreset, notPreset.getFullPathName(),
         "other.sorvane: the preset belongs to a different product"},
        {SoundSource::userPreset, binary.getFullPathName(), "binary.txt: not a valid Sorvane preset"},
        {SoundSource::project, folder.dir.getChildFile("none.sorvaneproject").getFullPathName(),
         "none.sorvaneproject: "},
        {SoundSource::project, notPreset.getFullPathName(), "other.sorvane: "},
    };
    for (const auto& c : cases)
    {
        RenderCommand command;
        command.source = c.source;
        command.sourceArgument = c.argument;
        RenderSound sound;
        juce::String error;
        EXPECT_FALSE(sound.load(command, error)) << c.argument;
        EXPECT_TRUE(error.contains(c.expected)) << c.argument << " -> " << error;
        EXPECT_FALSE(error.containsAnyOf("\r\n")) << error;
    }
}

TEST(RenderSound, AProjectGivesItsSoundLocksAndTempo)
{
    RenderFolder folder;
    auto source = sorvane::test::makeProcessor();
    sorvane::test::setPlain(*source, "drive", 71.0f);
    sorvane::CreatorProjectData data;
    data.parameterState = source->captureParameterSnapshot();
    data.macroLockMask = 0x5ull;
    data.tempo = 97.0;
    const auto file = folder.dir.getChildFile("p.sorvaneproject");
    juce::String error;
    ASSERT_TRUE(sorvane::writeCreatorProject(file, data, error)) << error;

    RenderCommand command;
    command.source = SoundSource::project;
    command.sourceArgument = file.getFullPathName();
    RenderSound sound;
    ASSERT_TRUE(sound.load(command, error)) << error;
    EXPECT_EQ(sound.getTempo(), 97.0);
    auto target = sorvane::test::makeProcessor();
    ASSERT_TRUE(sound.applyTo(*target, error)) << error;
    EXPECT_FLOAT_EQ(sorvane::test::plain(*target, "drive"), 71.0f);
    EXPECT_EQ(target->lockWord.load(), 0x5ull);

    command.tempo = 140.0;
    ASSERT_TRUE(sound.load(command, error)) << error;
    EXPECT_EQ(sound.getTempo(), 140.0);
}

TEST(RenderJobs, AnOutputThatIsAnInputUnderAnySpellingIsRefused)
{
    RenderFolder folder;
    const auto input = folder.dir.getChildFile("in.wav");
    input.replaceWithText("x");
    folder.dir.getChildFile("sub").createDirectory();
    const auto link = folder.dir.getChildFile("link.wav");
    ASSERT_TRUE(input.createSymbolicLink(link, true));
    const auto hard = folder.dir.getChildFile("hard.wav");
    ASSERT_EQ(::link(input.getFullPathName().toRawUTF8(), hard.getFullPathName().toRawUTF8()), 0);

    struct Case
    {
        std::vector<std::string> paths;
        const char* expected; // empty: accepted
    };
    const std::vector<Case> cases = {
        {{"in.wav", "in.wav"}, "the output is the input file itself"},
        {{"in.wav", "./sub/../in.wav"}, "the output is the input file itself"},
        {{"in.wav", "link.wav"}, "the output is the input file itself"},
        {{"link.wav", "in.wav"}, "the output is the input file itself"},
        {{"in.wav", "hard.wav"}, "the output is the input file itself"},
        {{"in.wav", "sub"}, "the output is a folder"},
        {{"in.wav", "missing/out.wav"}, "does not exist"},
        {{"in.wav", "out.wav"}, ""},
    };
    for (const auto& c : cases)
    {
        RenderCommand command;
        command.paths = split(c.paths);
        std::vector<RenderJob> jobs;
        juce::String error;
        ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error)) << error;
        ASSERT_EQ(jobs.size(), 1u);
        if (*c.expected == 0)
            EXPECT_TRUE(jobs[0].refusal.isEmpty()) << jobs[0].refusal;
        else
            EXPECT_TRUE(jobs[0].refusal.contains(c.expected)) << c.paths[1] << " -> " << jobs[0].refusal;
    }

    // Within one run: one file's output may not be another's input, nor another's output.
    RenderCommand command;
    command.paths = split({"in.wav", "a.wav", "b.wav", "link.wav", "c.wav", "a.wav"});
    std::vector<RenderJob> jobs;
    juce::String error;
    ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error));
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_TRUE(jobs[0].refusal.isEmpty()) << jobs[0].refusal;
    EXPECT_TRUE(jobs[1].refusal.contains("the output is the input of another file")) << jobs[1].refusal;
    EXPECT_TRUE(jobs[2].refusal.contains("written to the same output")) << jobs[2].refusal;

    command.paths = split({"in.wav", "out.flac"});
    command.format = OutputFormat::wav24;
    ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error));
    EXPECT_TRUE(jobs[0].refusal.contains("does not match --format")) << jobs[0].refusal;
}

TEST(RenderJobs, AMissingPathIsResolvedAsFarAsItExistsAtAnyDepth)
{
    RenderFolder folder;
    const juce::File base(resolvedPath(folder.dir));
    ASSERT_TRUE(base.getChildFile("sub").createDirectory().wasOk());
    ASSERT_TRUE(base.getChildFile("sub").createSymbolicLink(base.getChildFile("link"), true));
    // Thousands of folders deep: the walk up must not take stack per folder.
    const auto deep = juce::String::repeatedString("m/", 3000) + "in.wav";

    struct Case
    {
        juce::String path;
        juce::File expected;
    };
    const Case cases[] = {
        {"missing.wav", base.getChildFile("missing.wav")},
        {"link/missing/deeper.wav", base.getChildFile("sub/missing/deeper.wav")},
        {"link/missing/../x.wav", base.getChildFile("sub/x.wav")},
        {"sub/../link/x.wav", base.getChildFile("sub/x.wav")},
        {deep, base.getChildFile(deep)},
        {"link/" + deep, base.getChildFile("sub/" + deep)},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path.substring(0, 40));
        EXPECT_EQ(resolvedPath(folder.dir.getChildFile(c.path)), c.expected.getFullPathName());
    }
    EXPECT_TRUE(sameFile(folder.dir.getChildFile("link/" + deep), folder.dir.getChildFile("sub/" + deep)));
    EXPECT_FALSE(sameFile(folder.dir.getChildFile(deep), folder.dir.getChildFile("sub/" + deep)));

    // Planned like any other missing input: the renderer says it is missing when it gets there.
    RenderCommand command;
    command.paths = juce::StringArray(deep, "out.wav");
    std::vector<RenderJob> jobs;
    juce::String error;
    ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error)) << error;
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0].refusal.isEmpty()) << jobs[0].refusal;
}

TEST(RenderJobs, AFolderBecomesItsAudioFilesInAnOutputFolder)
{
    RenderFolder folder;
    const auto in = folder.dir.getChildFile("in");
    in.createDirectory();
    for (const char* name : {"b.flac", "a.wav", "c.MP3", "notes.txt", ".hidden.wav"})
        in.getChildFile(name).replaceWithText("x");

    RenderCommand command;
    command.paths = split({"in", "out"});
    command.format = OutputFormat::flac;
    std::vector<RenderJob> jobs;
    juce::String error;
    ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error)) << error;
    EXPECT_TRUE(folder.dir.getChildFile("out").isDirectory());
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].output.getFileName(), "a.flac");
    EXPECT_EQ(jobs[1].output.getFileName(), "b.flac");
    EXPECT_EQ(jobs[2].output.getFileName(), "c.flac");
    for (const auto& job : jobs)
    {
        EXPECT_EQ(job.format, OutputFormat::flac);
        EXPECT_TRUE(job.refusal.isEmpty()) << job.refusal;
    }

    // The same folder in and out would write over the inputs.
    command.paths = split({"in", "in"});
    command.format = OutputFormat::wav24;
    ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error)) << error;
    EXPECT_TRUE(jobs[0].refusal.contains("the output is the input file itself")) << jobs[0].refusal;

    const auto empty = folder.dir.getChildFile("empty");
    empty.createDirectory();
    command.paths = split({"empty", "out2"});
    EXPECT_FALSE(planRenderJobs(command, folder.dir, jobs, error));
    EXPECT_TRUE(error.contains("holds no audio files")) << error;
    folder.dir.getChildFile("file.wav").replaceWithText("x");
    command.paths = split({"in", "file.wav"});
    EXPECT_FALSE(planRenderJobs(command, folder.dir, jobs, error));
    EXPECT_TRUE(error.contains("must be a folder too")) << error;
}

TEST(RenderJobs, OutputNamesThatSayNoFormatAreAUsageError)
{
    RenderFolder folder;
    folder.dir.getChildFile("in.wav").replaceWithText("x");
    folder.dir.getChildFile("songs").createDirectory();
    folder.dir.getChildFile("songs/a.wav").replaceWithText("x");
    folder.dir.getChildFile("sub.d").createDirectory();
    const auto path = [&](const char* name) { return folder.dir.getChildFile(name).getFullPathName(); };

    struct Case
    {
        std::vector<std::string> paths;
        OutputFormat format;
        bool keepExtension;
        juce::String expected; // empty: accepted
    };
    const auto keep = "--keep-extension names the outputs of a folder run; with INPUT OUTPUT pairs each "
                      "output is named as given.";
    const std::vector<Case> cases = {
        {{"in.wav", "out.xyz"},
         OutputFormat::fromExtension,
         false,
         path("out.xyz") +
             ": sorvane-render writes WAV (.wav) or FLAC (.flac), and .xyz is neither; name "
             "the output .wav or .flac, or give --format to write that format under this name."},
        {{"in.wav", "a.wav", "in.wav", "b.mp3"}, OutputFormat::fromExtension, false, path("b.mp3") + ": "},
        {{"in.wav", "out.xyz"}, OutputFormat::wav24, false, ""},
        {{"in.wav", "out.xyz"}, OutputFormat::flac, false, ""},
        {{"in.wav", "OUT.WAV"}, OutputFormat::fromExtension, false, ""},
        {{"in.wav", "out.Flac"}, OutputFormat::fromExtension, false, ""},
        {{"in.wav", "out"}, OutputFormat::fromExtension, false, ""},
        // Refused as a folder when planned, not for its name.
        {{"in.wav", "sub.d"}, OutputFormat::fromExtension, false, ""},
        // An output folder's name is not a file name.
        {{"songs", "rendered.v2"}, OutputFormat::fromExtension, false, ""},
        {{"songs", "rendered"}, OutputFormat::fromExtension, true, ""},
        {{"in.wav", "out.wav"}, OutputFormat::fromExtension, true, keep},
        {{"in.wav", "out.wav", "songs", "x"}, OutputFormat::fromExtension, true, keep},
    };
    for (const auto& c : cases)
    {
        RenderCommand command;
        command.paths = split(c.paths);
        command.format = c.format;
        command.keepExtension = c.keepExtension;
        juce::String error;
        const auto trace = command.paths.joinIntoString(" ");
        EXPECT_EQ(checkOutputNames(command, folder.dir, error), c.expected.isEmpty()) << trace;
        EXPECT_TRUE(c.expected.isEmpty() ? error.isEmpty() : error.startsWith(c.expected))
            << trace << " -> " << error;
    }
}

TEST(RenderJobs, InputsOfOneStemMeetAtOneOutputUnlessTheyKeepTheirExtension)
{
    RenderFolder folder;
    const auto in = folder.dir.getChildFile("mixed");
    in.createDirectory();
    for (const char* name : {"song.wav", "solo.mp3", "song.flac"})
        in.getChildFile(name).replaceWithText("x");
    const auto input = [&](const char* name) { return in.getChildFile(name).getFullPathName(); };

    struct Case
    {
        OutputFormat format;
        bool keepExtension;
        std::vector<const char*> outputs; // in input order: solo.mp3, song.flac, song.wav
        juce::String songWavRefusal;      // empty: every job runs
    };
    const std::vector<Case> cases = {
        {OutputFormat::fromExtension,
         false,
         {"solo.wav", "song.wav", "song.wav"},
         input("song.wav") + " was not rendered: " + input("song.flac") +
             " is written to the same output; --keep-extension writes them as song.flac.wav and "
             "song.wav.wav."},
        {OutputFormat::flac,
         false,
         {"solo.flac", "song.flac", "song.flac"},
         input("song.wav") + " was not rendered: " + input("song.flac") +
             " is written to the same output; --keep-extension writes them as song.flac.flac and "
             "song.wav.flac."},
        {OutputFormat::fromExtension, true, {"solo.mp3.wav", "song.flac.wav", "song.wav.wav"}, ""},
        {OutputFormat::wav32f, true, {"solo.mp3.wav", "song.flac.wav", "song.wav.wav"}, ""},
        {OutputFormat::flac, true, {"solo.mp3.flac", "song.flac.flac", "song.wav.flac"}, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String((int)c.format) + (c.keepExtension ? " keep" : ""));
        RenderCommand command;
        command.paths = split({"mixed", "out"});
        command.format = c.format;
        command.keepExtension = c.keepExtension;
        std::vector<RenderJob> jobs;
        juce::String error;
        ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error)) << error;
        ASSERT_EQ(jobs.size(), 3u);
        for (size_t i = 0; i < jobs.size(); ++i)
        {
            EXPECT_EQ(jobs[i].output, folder.dir.getChildFile("out").getChildFile(c.outputs[i]));
            EXPECT_TRUE(jobs[i].note.isEmpty()) << jobs[i].note;
        }
        EXPECT_EQ(jobs[0].input.getFileName(), "solo.mp3");
        EXPECT_TRUE(jobs[0].refusal.isEmpty()) << jobs[0].refusal;
        EXPECT_TRUE(jobs[1].refusal.isEmpty()) << jobs[1].refusal;
        EXPECT_EQ(jobs[2].refusal, c.songWavRefusal.isEmpty()
                                       ? juce::String()
                                       : jobs[2].output.getFullPathName() + ": " + c.songWavRefusal);
    }

    // Pairs name their outputs: the advice is to give another one.
    folder.dir.getChildFile("a.wav").replaceWithText("x");
    folder.dir.getChildFile("b.wav").replaceWithText("x");
    RenderCommand command;
    command.paths = split({"a.wav", "same.wav", "b.wav", "same.wav"});
    std::vector<RenderJob> jobs;
    juce::String error;
    ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error)) << error;
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_TRUE(jobs[0].refusal.isEmpty()) << jobs[0].refusal;
    const auto at = [&](const char* name) { return folder.dir.getChildFile(name).getFullPathName(); };
    EXPECT_EQ(jobs[1].refusal, at("same.wav") + ": " + at("b.wav") + " was not rendered: " + at("a.wav") +
                                   " is written to the same output; give each input its own output.");
}

TEST(RenderJobs, AnExplicitFormatUnderAnotherExtensionIsNamedAfterTheRender)
{
    RenderFolder folder;
    folder.dir.getChildFile("in.wav").replaceWithText("x");
    struct Case
    {
        const char* output;
        OutputFormat format;
        const char* expectedTail; // empty: no note
    };
    const std::vector<Case> cases = {
        {"out.xyz", OutputFormat::wav24,
         "written as 24-bit WAV, as --format asked; the extension .xyz does "
         "not say so."},
        {"out.xyz", OutputFormat::wav32f,
         "written as 32-bit float WAV, as --format asked; the extension .xyz "
         "does not say so."},
        {"out.raw", OutputFormat::flac,
         "written as 24-bit FLAC, as --format asked; the extension .raw does "
         "not say so."},
        {"out.wav", OutputFormat::wav32f, ""},
        {"out.FLAC", OutputFormat::flac, ""},
        {"out", OutputFormat::wav24, ""},
        // Without --format such a name never gets this far (checkOutputNames); nothing is claimed for it.
        {"out.xyz", OutputFormat::fromExtension, ""},
    };
    for (const auto& c : cases)
    {
        RenderCommand command;
        command.paths = split({"in.wav", c.output});
        command.format = c.format;
        std::vector<RenderJob> jobs;
        juce::String error;
        ASSERT_TRUE(planRenderJobs(command, folder.dir, jobs, error)) << error;
        ASSERT_EQ(jobs.size(), 1u);
        EXPECT_TRUE(jobs[0].refusal.isEmpty()) << jobs[0].refusal;
        const auto expected = *c.expectedTail == 0 ? juce::String()
                                                   : folder.dir.getChildFile(c.output).getFullPathName() +
                                                         ": " + c.expectedTail;
        EXPECT_EQ(jobs[0].note, expected) << c.output;
    }
}
} // namespace
