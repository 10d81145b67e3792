// SPDX-License-Identifier: MIT
// Runs the built dotprod as a child process and checks its whole output.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <regex>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};

struct Setup {
    const char *stdoutPath = nullptr; // null: capture it
    rlim_t addressLimit = RLIM_INFINITY;
    const char *preload = nullptr;    // a library to interpose
};

// dotprod itself, or, in a cross build, the emulator that runs it.
const char *const command[] = {DOTPROD_COMMAND};
const bool emulated = std::size(command) > 1;

std::string slurp(FILE *f)
{
    std::string text;
    char chunk[65536];
    rewind(f);
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, f)) > 0;)
        text.append(chunk, got);
    fclose(f);
    return text;
}

// A sanitized build notes each refused allocation on standard error
// ("==pid==WARNING: ..."); real sanitizer errors still change the status.
std::string withoutSanitizerNotes(const std::string &err)
{
    return std::regex_replace(err, std::regex("==[0-9]+==WARNING: [^\n]*\n"), "");
}

Outcome dotprod(std::vector<std::string> args, Setup setup = {})
{
    FILE *out = tmpfile(), *err = tmpfile();
    std::vector<char *> argv;
    for (const char *word : command)
        argv.push_back((char *)word);
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int o = setup.stdoutPath ? open(setup.stdoutPath, O_WRONLY) : fileno(out);
        dup2(o, 1);
        dup2(fileno(err), 2);
        rlimit limit{setup.addressLimit, setup.addressLimit};
        setrlimit(RLIMIT_AS, &limit);
        // An emulator hands QEMU_SET_ENV to the program it runs, and keeps
        // the target's library out of its own loader.
        if (setup.preload && emulated)
            setenv("QEMU_SET_ENV", ("LD_PRELOAD=" + std::string(setup.preload)).c_str(), 1);
        else if (setup.preload)
            setenv("LD_PRELOAD", setup.preload, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Outcome run;
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    run.out = slurp(out);
    run.err = withoutSanitizerNotes(slurp(err));
    return run;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> all;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        all.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "last line not terminated";
    return all;
}

// A completed run: everything before the time line as given, then the time line.
void expectCompleted(const Outcome &run, const std::string &beforeTime)
{
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.out.compare(0, beforeTime.size(), beforeTime), 0) << run.out;
    std::string rest = run.out.substr(beforeTime.size());
    EXPECT_TRUE(std::regex_match(rest, std::regex("Tiempo: [0-9]+\\.[0-9]{6}\n"))) << rest;
}

const char *const sums3 = "sum=0.000071\nsum=0.000086\nsum=0.000147\n";

struct Completed {
    std::vector<std::string> args;
    std::string beforeTime;
};

TEST(Dotprod, CompletedRuns)
{
    const Completed cases[] = {
        {{"3"}, "3\n" + std::string(sums3) + "Resultado: 0.000147\n"},
        {{"3", "extra", "-5"}, "3\n" + std::string(sums3) + "Resultado: 0.000147\n"},
        {{"0"}, "0\nResultado: 0.000000\n"},
        {{"abc"}, "abc\nResultado: 0.000000\n"},
        {{""}, "\nResultado: 0.000000\n"},
        {{"+3x"}, "+3x\n" + std::string(sums3) + "Resultado: 0.000147\n"},
    };
    for (const Completed &c : cases) {
        SCOPED_TRACE(c.args[0]);
        expectCompleted(dotprod(c.args), c.beforeTime);
    }
}

TEST(Dotprod, LeadingBlankIsEchoedAndLengthIsLeadingNumber)
{
    Outcome run = dotprod({" 12abc"});
    std::vector<std::string> l = lines(run.out);
    ASSERT_EQ(l.size(), 15u);
    EXPECT_EQ(l[0], " 12abc");
    EXPECT_EQ(l[13], "Resultado: " + l[12].substr(4));
    EXPECT_EQ(run.status, 0);
}

// The sums of a shorter run are the start of a longer run's, and the
// result repeats the last sum.
TEST(Dotprod, ShorterRunIsPrefixAndResultIsLastSum)
{
    std::vector<std::string> shorter = lines(dotprod({"100"}).out);
    std::vector<std::string> longer = lines(dotprod({"5000"}).out);
    ASSERT_EQ(shorter.size(), 103u);
    ASSERT_EQ(longer.size(), 5003u);
    for (size_t i = 1; i <= 100; i++)
        ASSERT_EQ(shorter[i], longer[i]) << "line " << i;
    EXPECT_EQ(longer[5001], "Resultado: " + longer[5000].substr(4));
    EXPECT_EQ(shorter[101], "Resultado: " + longer[100].substr(4));
    // Each term adds at most 0.0001, so the sums never fall and stay small.
    double previous = 0;
    for (size_t i = 1; i <= 5000; i++) {
        double sum = std::stod(longer[i].substr(4));
        ASSERT_GE(sum, previous) << "line " << i;
        previous = sum;
    }
    EXPECT_LE(previous, 5000 * 0.0001);
}

std::string sixDecimals(double value)
{
    char text[64];
    snprintf(text, sizeof text, "%f", value);
    return text;
}

// Past about 250000 terms the sums are large enough for one float step
// to show in six decimals: every line must then be the separately rounded
// float product added to a float sum, in index order. A single rounding
// per term (fused multiply-add, or a wider intermediate) prints otherwise.
TEST(Dotprod, EverySumIsRoundedTwicePerTermInIndexOrder)
{
    const int n = 1000000;
    std::vector<std::string> l = lines(dotprod({std::to_string(n)}).out);
    ASSERT_EQ(l.size(), n + 3u);
    float sum = 0.0f, fused = 0.0f;
    int fusedWouldDiffer = 0;
    srand(0);
    for (int k = 0; k < n; k++) {
        float x = (float)((double)rand() / 214748364700.0);
        // Stored through volatile: rounded to float whatever this test's
        // own build allows, so the model cannot fuse along with dotprod.
        volatile float term = x * x;
        sum = sum + term;
        fused = (float)((double)fused + (double)x * x);
        ASSERT_EQ(l[k + 1], "sum=" + sixDecimals(sum)) << "term " << k;
        fusedWouldDiffer += sixDecimals(fused) != sixDecimals(sum);
    }
    EXPECT_EQ(l[n + 1], "Resultado: " + sixDecimals(sum));
    EXPECT_GT(fusedWouldDiffer, 0) << "the check would not tell the two apart";
}

struct Refused {
    std::vector<std::string> args;
    std::string out;
    int status;
};

TEST(Dotprod, RefusedRuns)
{
    const Refused cases[] = {
        {{}, "Usage: dotprod LENGTH\n", 2},
        {{"-5"},
         "-5\nError when allocating vector of size -5.\nError when allocating vector of size -5.\n"
         "Error when allocationg matrix\n",
         255},
        {{"2147483648"}, "2147483648\nLength out of range: 2147483648\n", 2},
        {{"-2147483649"}, "-2147483649\nLength out of range: -2147483649\n", 2},
        {{" 99999999999999999999x"},
         " 99999999999999999999x\nLength out of range:  99999999999999999999x\n", 2},
    };
    for (const Refused &c : cases) {
        Outcome run = dotprod(c.args);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, c.status) << c.out;
    }
}

TEST(Dotprod, LostOutputIsAFailure)
{
    Outcome run = dotprod({"1000"}, {.stdoutPath = "/dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "dotprod: write error: No space left on device\n");
}

// The time of day stepping back between the two reads must not show in
// the loop's time.
TEST(ClockStep, TimeIsNotTheTimeOfDay)
{
    Outcome run = dotprod({"1000"}, {.preload = CLOCK_STEP});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::smatch time;
    ASSERT_TRUE(std::regex_search(run.out, time, std::regex("\nTiempo: (-?[0-9.]+)\n$"))) << run.out;
    EXPECT_GE(std::stod(time[1]), 0.0);
    EXPECT_LT(std::stod(time[1]), 4.0) << "a step of 5 s would show here";
}

// The largest length is a real request; under a 1 GiB address space
// neither 8 GiB vector can be had.
TEST(AddressLimit, BothVectorsFail)
{
    Outcome run = dotprod({"2147483647"}, {.addressLimit = 1ul << 30});
    EXPECT_EQ(run.out, "2147483647\n"
                       "Error when allocating vector of size 2147483647.\n"
                       "Error when allocating vector of size 2147483647.\n"
                       "Error when allocationg matrix\n");
    EXPECT_EQ(run.status, 255);
}

// 200 MB vectors under a 300 MiB address space: only the first fits.
TEST(AddressLimit, SecondVectorFails)
{
    Outcome run = dotprod({"50000000"}, {.addressLimit = 300ul << 20});
    EXPECT_EQ(run.out, "50000000\n"
                       "Error when allocating vector of size 50000000.\n"
                       "Error when allocationg matrix\n");
    EXPECT_EQ(run.status, 255);
}

} // namespace
