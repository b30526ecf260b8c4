#pragma once

// An X server of one test's own (Xvfb on a display it picks itself, so it races with no other
// server of the machine), started with the options a test asks for and ended with the object.
#include <csignal>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace NovaroTest
{

class PrivateXServer
{
public:
    // Starts Xvfb with its screen and these options; display() is empty when it did not start.
    explicit PrivateXServer(const std::vector<std::string>& options = {})
    {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0)
            return;
        std::vector<std::string> arguments = {"Xvfb",       "-displayfd", std::to_string(pipeEnds[1]),
                                              "-screen",    "0",          "1024x768x24",
                                              "+extension", "GLX",        "-nolisten",
                                              "tcp"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        _process = fork();
        if (_process == 0)
        {
            close(pipeEnds[0]);
            std::vector<char*> argv;
            for (std::string& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            freopen("/dev/null", "w", stderr);
            execvp("Xvfb", argv.data());
            _exit(127);
        }
        close(pipeEnds[1]);
        // The server writes its display number once it accepts connections.
        char digits[16] = {};
        const ssize_t length = _process > 0 ? read(pipeEnds[0], digits, sizeof(digits) - 1) : 0;
        close(pipeEnds[0]);
        if (length > 0)
            _display = ":" + std::string(digits, digits + length - (digits[length - 1] == '\n' ? 1 : 0));
    }
    ~PrivateXServer()
    {
        if (_process > 0)
        {
            kill(_process, SIGTERM);
            waitpid(_process, nullptr, 0);
        }
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    const std::string& display() const { return _display; }
    // Whether the server is still running (it ends by itself when started with -terminate).
    bool running() const { return _process > 0 && waitpid(_process, nullptr, WNOHANG) == 0; }

private:
    pid_t _process = -1;
    std::string _display;
};

} // namespace NovaroTest
