// One construction of the serial back end.
#include "app/backend.h"

#include <cstdio>
#include <random>

BackEnd openBackEnd(const BackEndRequest& request) {
    BackEnd b;
    if (!request.simulate) {
        b.ftdi = platform::makeFtdiDevice();
        platform::setSerialDevice(b.ftdi.get());
        return b;
    }
    b.sim = std::make_unique<simulator::SimulatedInstrument>(request.model);
    if (!request.dutFile.empty() && !b.sim->loadScenarioFile(request.dutFile, b.error)) {
        b.ok = false;
        return b;
    }
    for (const std::string& c : request.connections)
        if (!b.sim->applyConnectionOption(c, b.error)) {
            b.ok = false;
            b.refusedConnection = c;
            return b;
        }
    b.sim->setNoise(request.noise);
    std::uint64_t seed = request.seed;
    if (request.randomSeed) {
        std::random_device device;
        seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
        // Printed before any log exists: a run worth repeating can be repeated.
        std::fprintf(stderr, "velt: the simulated noise starts from seed %llu\n",
                     static_cast<unsigned long long>(seed));
    }
    b.sim->setSeed(seed);
    b.sim->setPaced(request.paced);
    platform::setSerialDevice(b.sim.get());
    return b;
}
