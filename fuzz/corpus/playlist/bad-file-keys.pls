[playlist]
File10=late.mp3File2=early.mp3

Title2=x
File=
File3
