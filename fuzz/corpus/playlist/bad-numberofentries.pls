[playlist]
File1=a.mp3
File2=b.wav
NumberOfEntries=999999999999
