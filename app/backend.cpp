// One construction of the serial back end.
#include "app/backend.h"

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
    b.sim->setPaced(request.paced);
    platform::setSerialDevice(b.sim.get());
    return b;
}
