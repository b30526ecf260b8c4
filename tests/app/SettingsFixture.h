#pragma once

#include "PlayerProcess.h"

namespace NovaroTest
{

// The smallest configuration the player accepts, written as an exporter would.
inline const char* minimalConfiguration()
{
    return "<configuration name=\"test\"><parameters><parameter name=\"mode\">ar_simple</parameter>"
           "<parameter name=\"fullscreen\">false</parameter></parameters></configuration>";
}

// Writes the seven smallest settings files the player accepts: configuration, tracker and video
// into the working directory, the other four into the temporary directory (which may be the same).
inline void writeSettings(const TemporaryFolder& working, const TemporaryFolder& temporary)
{
    working.write("config.xml", minimalConfiguration());
    working.write("tracker.xml", "<tracker name=\"test\"><parameters/></tracker>");
    working.write("video.xml",
                  "<video name=\"test\"><formats><format name=\"4:3\" width=\"640\" height=\"480\"/>"
                  "</formats><cameras><camera name=\"cam\" format=\"4:3\" path=\"camera.dat\"/>"
                  "</cameras></video>");
    temporary.write("scene.xml", "<scene name=\"test\"><objects><object name=\"a\" type=\"ARObject\">"
                                 "<model source=\"a.osgt\"/><markers><marker id=\"1\" layer=\"0\"/></markers>"
                                 "</object></objects></scene>");
    temporary.write("audio.xml", "<audio name=\"test\"><soundtracks/></audio>");
    temporary.write("markers.xml", "<markers patterns_file=\"patterns.dat\"><marker name=\"m\" tag=\"m\" "
                                   "id=\"1\" path=\"m.patt\"/></markers>");
    temporary.write("lighting.xml", "<lighting name=\"test\"><parameters><parameter name=\"mode\">direct"
                                    "</parameter></parameters></lighting>");
}

} // namespace NovaroTest
