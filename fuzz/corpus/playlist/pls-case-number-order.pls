 [Playlist] 
FILE10 = c.mp3
Title2=Bee
file2=b.mp3
Length2=61
file01=a.mp3
Length10=-1
Title99=no file
NumberOfEntries=3
Version=2
