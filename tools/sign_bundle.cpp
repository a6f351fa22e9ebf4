// Release signing for Taskbell.app bundles.
//
//   sign_bundle keygen PRIVATE_KEY.pem     new Ed25519 key pair: writes the private key (mode 0600, never
//                                          over an existing file) and prints the public key to pin
//   sign_bundle pubkey PRIVATE_KEY.pem     prints the public key of a private key
//   sign_bundle sign BUNDLE PRIVATE_KEY.pem [TEAM]
//                                          seals BUNDLE (team 7QK4ZR2W9M unless given)
//   sign_bundle verify BUNDLE PUBLIC_KEY   checks BUNDLE exactly as the updater does
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "core/base/file_io.h"
#include "core/update/code_signature.h"

namespace {

using namespace taskbell::update;

std::string readKeyFile(const std::string& path)
{
    taskbell::FileBytes file = taskbell::readFileBounded(path, std::size_t{1} << 20);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::move(file.bytes);
}

void writeNewPrivateFile(const std::string& path, const std::string& data)
{
    taskbell::FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.isOpen()) {
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    }
    bool ok = taskbell::writeAll(fd.get(), data);
    ok = fd.close() == 0 && ok;
    if (!ok) {
        throw std::runtime_error("cannot write " + path);
    }
}

int usage()
{
    std::cerr << "usage: sign_bundle keygen PRIVATE_KEY.pem\n"
                 "       sign_bundle pubkey PRIVATE_KEY.pem\n"
                 "       sign_bundle sign BUNDLE PRIVATE_KEY.pem [TEAM]\n"
                 "       sign_bundle verify BUNDLE PUBLIC_KEY\n";
    return 2;
}

int runCommand(const std::vector<std::string>& args)
{
    const std::string& command = args[0];
    if (command == "keygen" && args.size() == 2) {
        auto key = generateSigningKey();
        writeNewPrivateFile(args[1], key.privateKeyPem);
        std::cout << key.publicKey << "\n";
        return 0;
    }
    if (command == "pubkey" && args.size() == 2) {
        std::cout << publicKeyOf(readKeyFile(args[1])) << "\n";
        return 0;
    }
    if (command == "sign" && (args.size() == 3 || args.size() == 4)) {
        signBundle(args[1], readKeyFile(args[2]), args.size() == 4 ? args[3] : std::string(kTeamIdentifier));
        return 0;
    }
    if (command == "verify" && args.size() == 3) {
        verifySignature(args[1], args[2]);
        std::cout << args[1] << ": valid\n";
        return 0;
    }
    return usage();
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return usage();
    }
    try {
        return runCommand(args);
    } catch (const std::exception& error) {
        std::cerr << "sign_bundle: " << error.what() << "\n";
        return 1;
    }
}
